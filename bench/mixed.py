# The mixed workload in Python: a function building "k" and the number's
# digits right-aligned in ten places then trimmed, appended to a list, its
# length and last character tested.
import sys
import time


def key(x):
    return "k" + ("%10d" % x).lstrip()


def run(limit):
    a = []
    i = 1
    hits = 0
    while i <= limit:
        s = key(i)
        a.append(s)
        if s[len(s) - 1:len(s)] == "7":
            hits += 1
        i += 1
    return hits, len(a)


limit = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
start = time.process_time()
hits, n = run(limit)
seconds = time.process_time() - start
print("result %d %d" % (hits, n))
print("seconds %.6f" % seconds)
