-- Benchmark workloads, the Lua side: lua5.4 bench/workloads.lua WORKLOAD N
-- (the same workloads as workloads.ztscr and workloads.tcl).

local function loop(n)
  local sum = 0.0
  local i = 1
  while i <= n do
    sum = sum + i
    i = i + 1
  end
  return sum
end

local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end

local function strings(n)
  local total = 0
  local i = 1
  while i <= n do
    total = total + #("item" .. i)
    i = i + 1
  end
  return total
end

local function map(n)
  local m = {}
  local i = 1
  while i <= n do
    m[i] = i
    i = i + 1
  end
  local sum = 0.0
  i = 1
  while i <= n do
    sum = sum + m[i]
    i = i + 1
  end
  return sum
end

local workloads = { loop = loop, fib = fib, strings = strings, map = map }
local f = workloads[arg[1]]
if not f then
  io.stderr:write("usage: lua5.4 workloads.lua loop|fib|strings|map N\n")
  os.exit(2)
end
print(string.format("%.0f", f(tonumber(arg[2]))))
