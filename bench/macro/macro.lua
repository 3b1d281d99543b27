-- The macro benchmark in Lua: load (compile) and call `a * 2 + b` with a
-- and b globals, COUNT times; prints the seconds.
local count = tonumber(arg[1]) or 1000000
a, b = 20, 2
local start = os.clock()
local r
for _ = 1, count do
  r = load("return a * 2 + b")()
end
local seconds = os.clock() - start
assert(r == 42)
print(string.format("%.6f", seconds))
