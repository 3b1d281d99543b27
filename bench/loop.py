# The interpreter benchmark's counting loop in Python; prints the seconds.
import sys
import time


def count(limit):
    x = 0
    i = 1
    while i <= limit:
        x = x + i
        i += 1
    return x


limit = int(sys.argv[1]) if len(sys.argv) > 1 else 10000000
start = time.perf_counter()
x = count(limit)
seconds = time.perf_counter() - start
assert x == limit * (limit + 1) // 2
print("%.6f" % seconds)
