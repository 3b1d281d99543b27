# The macro benchmark in Python: eval (compile and run) of `a * 2 + b` with a
# and b globals, COUNT times; prints the seconds.
import sys
import time

count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
env = {"a": 20, "b": 2}
start = time.perf_counter()
r = None
for _ in range(count):
    r = eval("a * 2 + b", env)
seconds = time.perf_counter() - start
assert r == 42
print("%.6f" % seconds)
