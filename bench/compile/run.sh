#!/bin/sh
# The source compiler's speed on a generated program of 100,000 lines,
# against `luac5.4 -p` and Python 3's compile() on programs of the same
# shape, in the same run: CPU seconds (best of three), lines per second and
# the ratios.
#   bench/compile/run.sh [lines]     (XB_BUILD_DIR overrides build/native64)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
build=${XB_BUILD_DIR:-$root/build/native64}
lines=${1:-100000}

if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset native64 >/dev/null)
fi
cmake --build "$build" --target xbcompilebench -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/gen.py" "$lines" "$work"

out=$("$build/xbcompilebench" "$work/prog.prg" 3)
xb=$(echo "$out" | sed -n 's/^seconds //p')
# luac: CPU time of the child (user + system), best of three.
lua=$(python3 - "$work/prog.lua" <<'PY'
import resource, subprocess, sys
best = None
for _ in range(3):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(["luac5.4", "-p", sys.argv[1]], check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    best = t if best is None else min(best, t)
print("%.4f" % best)
PY
)
py=$(python3 - "$work/prog.py" <<'PY'
import sys, time
text = open(sys.argv[1]).read()
best = None
for _ in range(3):
    t0 = time.process_time()
    compile(text, sys.argv[1], "exec")
    t = time.process_time() - t0
    best = t if best is None else min(best, t)
print("%.4f" % best)
PY
)
echo "compile $lines lines (CPU seconds, best of 3): xbc $xb, luac5.4 -p $lua, python3 compile() $py"
awk -v n="$lines" -v xb="$xb" -v lua="$lua" -v py="$py" 'BEGIN {
    printf "lines/s: xbc %.0f, luac5.4 %.0f, python3 %.0f\n", n / xb, n / lua, n / py
    printf "xbc/luac5.4 time ratio: %.2f\n", xb / lua
    printf "xbc/python3 time ratio: %.2f\n", xb / py
}'
