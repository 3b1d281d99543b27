# The second loop in Python: counting down with a branch per turn.
import sys
import time


def run(limit):
    k = limit
    evens = 0
    odds = 0
    flip = True
    while k > 0:
        if flip:
            evens = evens + k
        else:
            odds = odds + 1
        flip = not flip
        k = k - 1
    return evens, odds


limit = int(sys.argv[1]) if len(sys.argv) > 1 else 10000000
start = time.process_time()
evens, odds = run(limit)
seconds = time.process_time() - start
print("result %d %d" % (evens, odds))
print("seconds %.6f" % seconds)
