-- The counting loop in Lua: prints the result and the CPU seconds.
local limit = tonumber(arg[1]) or 10000000
local start = os.clock()
local x, i = 0, 1
while i <= limit do
  x = x + i
  i = i + 1
end
local seconds = os.clock() - start
print(string.format("result %d", x))
print(string.format("seconds %.6f", seconds))
