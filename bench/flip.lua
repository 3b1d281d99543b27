-- The second loop in Lua: counting down with a branch per turn.
local limit = tonumber(arg[1]) or 10000000
local start = os.clock()
local k, evens, odds, flip = limit, 0, 0, true
while k > 0 do
  if flip then evens = evens + k else odds = odds + 1 end
  flip = not flip
  k = k - 1
end
local seconds = os.clock() - start
print(string.format("result %d %d", evens, odds))
print(string.format("seconds %.6f", seconds))
