#!/bin/sh
# Builds the interpreter benchmark and runs the counting loop on the
# interpreter, in Lua 5.4 and in Python 3, one after the other; prints the
# nanoseconds per opcode and the time ratios, the Lua ratio last.
#   bench/run.sh [count]     (XB_BUILD_DIR overrides build/native)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${XB_BUILD_DIR:-$root/build/native}
count=${1:-10000000}

if [ ! -f "$build/CMakeCache.txt" ]; then
    if [ "$build" = "$root/build/native" ]; then
        (cd "$root" && cmake --preset native >/dev/null)
    else
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
fi
cmake --build "$build" --target xbbench -j2 >/dev/null

out=$("$build/xbbench" "$count")
echo "$out" | grep -v '^seconds '
xb=$(echo "$out" | sed -n 's/^seconds //p')
lua=$(lua5.4 "$here/loop.lua" "$count")
py=$(/usr/bin/python3 "$here/loop.py" "$count")

echo "interpreter $xb s, lua5.4 $lua s, python3 $py s ($count turns)"
echo "note: i386 binaries run under qemu-user on this machine, so the interpreter's"
echo "      absolute times are inflated; the ratios are what we report"
awk -v xb="$xb" -v py="$py" 'BEGIN { printf "interpreter/python3 time ratio: %.2f\n", xb / py }'
awk -v xb="$xb" -v lua="$lua" 'BEGIN { printf "interpreter/lua5.4 time ratio: %.2f\n", xb / lua }'
