-- The mixed workload in Lua: a function building "k" and the number's
-- digits right-aligned in ten places then trimmed, appended to a table,
-- its length and last character tested.
local limit = tonumber(arg[1]) or 1000000

local function key(x)
  return "k" .. (string.format("%10d", x):gsub("^ +", ""))
end

local start = os.clock()
local a, i, hits = {}, 1, 0
while i <= limit do
  local s = key(i)
  a[#a + 1] = s
  if string.sub(s, #s, #s) == "7" then hits = hits + 1 end
  i = i + 1
end
local seconds = os.clock() - start
print(string.format("result %d %d", hits, #a))
print(string.format("seconds %.6f", seconds))
