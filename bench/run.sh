#!/bin/sh
# Builds the interpreter benchmark and runs the counting loop on the
# interpreter, in Lua 5.4 and in Python 3 (/usr/bin/python3), one after the
# other in the same run; prints which build it timed, the nanoseconds per
# opcode and the time ratios, the Lua ratio last.
#   bench/run.sh [count]     (XB_BUILD_DIR overrides build/native64, the
#                             x86_64 build; XB_BUILD_DIR=build/native times
#                             the i386 build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${XB_BUILD_DIR:-$root/build/native64}
count=${1:-10000000}

if [ ! -f "$build/CMakeCache.txt" ]; then
    case "$build" in
        "$root/build/native64") (cd "$root" && cmake --preset native64 >/dev/null) ;;
        "$root/build/native") (cd "$root" && cmake --preset native >/dev/null) ;;
        *) cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXB_ARCH=x86_64 >/dev/null ;;
    esac
fi
cmake --build "$build" --target xbbench -j2 >/dev/null
arch=$(sed -n 's/^XB_ARCH:[A-Z]*=//p' "$build/CMakeCache.txt")
buildType=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "timed build: $build (Linux ${arch:-i386}, $buildType)"

out=$("$build/xbbench" "$count")
echo "$out" | grep -v '^seconds '
xb=$(echo "$out" | sed -n 's/^seconds //p')
lua=$(lua5.4 "$here/loop.lua" "$count")
py=$(/usr/bin/python3 "$here/loop.py" "$count")

echo "interpreter $xb s, lua5.4 $lua s, python3 $py s ($count turns)"
awk -v xb="$xb" -v py="$py" 'BEGIN { printf "interpreter/python3 time ratio: %.2f\n", xb / py }'

# Where the kernel cannot run i386 code, the interpreter runs under qemu-user
# while the distribution's Lua runs natively. For a like-for-like figure, time
# the i386 build of the same Lua under the same emulation (unpacked from the
# distribution's packages into the build tree, not installed).
emulated=0
if [ "${arch:-i386}" = i386 ] && [ "$(uname -m)" = x86_64 ] && grep -qs qemu-i386 /proc/sys/fs/binfmt_misc/* 2>/dev/null; then emulated=1; fi
if [ "$emulated" = 1 ]; then
    lua32="$build/lua-i386"
    if [ ! -x "$lua32/usr/bin/lua5.4" ]; then
        mkdir -p "$lua32/debs"
        (cd "$lua32/debs" && apt-get download lua5.4:i386 liblua5.4-0:i386 libreadline8:i386 libtinfo6:i386 >/dev/null 2>&1) || true
        for deb in "$lua32"/debs/*.deb; do [ -f "$deb" ] && dpkg-deb -x "$deb" "$lua32"; done
    fi
    echo "interpreter/lua5.4 time ratio (native Lua, interpreter under qemu): $(awk -v xb="$xb" -v lua="$lua" 'BEGIN { printf "%.2f", xb / lua }')"
    if [ -x "$lua32/usr/bin/lua5.4" ]; then
        lua=$(LD_LIBRARY_PATH="$lua32/usr/lib/i386-linux-gnu:$lua32/lib/i386-linux-gnu" "$lua32/usr/bin/lua5.4" "$here/loop.lua" "$count")
        echo "note: i386 binaries run under qemu-user here; the last ratio compares with i386 Lua under the same emulation ($lua s)"
    else
        echo "note: i386 binaries run under qemu-user here and no i386 Lua could be unpacked: the last ratio is inflated"
    fi
fi
awk -v xb="$xb" -v lua="$lua" 'BEGIN { printf "interpreter/lua5.4 time ratio: %.2f\n", xb / lua }'
