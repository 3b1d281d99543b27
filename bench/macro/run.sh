#!/bin/sh
# The macro compiler benchmark: a million compiles and evaluations of
# `a * 2 + b` through the macro opcode, against Lua 5.4 load+call and
# Python 3 eval of the same expression, in the same run; prints both ratios.
#   bench/macro/run.sh [count]     (XB_BUILD_DIR overrides build/native)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$(dirname "$here")")
build=${XB_BUILD_DIR:-$root/build/native}
count=${1:-1000000}

if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset native >/dev/null)
fi
cmake --build "$build" --target xbmacrobench -j2 >/dev/null

out=$("$build/xbmacrobench" "$count")
echo "$out" | grep -v '^seconds '
xb=$(echo "$out" | sed -n 's/^seconds //p')
lua=$(lua5.4 "$here/macro.lua" "$count")
py=$(/usr/bin/python3 "$here/macro.py" "$count")
echo "macro $xb s, lua5.4 load $lua s, python3 eval $py s ($count compiles and evaluations)"
awk -v xb="$xb" -v lua="$lua" 'BEGIN { printf "macro/lua5.4 time ratio: %.2f\n", xb / lua }'
awk -v xb="$xb" -v py="$py" 'BEGIN { printf "macro/python3 time ratio: %.2f\n", xb / py }'
if [ "$(uname -m)" = x86_64 ] && grep -qs qemu-i386 /proc/sys/fs/binfmt_misc/* 2>/dev/null; then
    echo "note: the i386 macro benchmark runs under qemu-user here while Lua and Python run natively"
fi
