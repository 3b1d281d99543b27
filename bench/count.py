# The counting loop in Python: prints the result and the CPU seconds.
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
start = time.process_time()
x = count(limit)
seconds = time.process_time() - start
print("result %d" % x)
print("seconds %.6f" % seconds)
