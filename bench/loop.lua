-- The interpreter benchmark's counting loop in Lua; prints the seconds.
local limit = tonumber(arg[1]) or 10000000
local start = os.clock()
local x, i = 0, 1
while i <= limit do
  x = x + i
  i = i + 1
end
local seconds = os.clock() - start
assert(x == limit * (limit + 1) // 2)
print(string.format("%.6f", seconds))
