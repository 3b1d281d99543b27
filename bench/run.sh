#!/bin/sh
# Times the interpreter, Lua 5.4 and Python 3 (/usr/bin/python3) on the same
# workloads in one run: the counting loop, the mixed workload and a second
# loop of another shape (see bench/loop_bench.cpp). Each program measures the
# CPU time of its workload itself (the interpreter and Python with the
# process CPU clock, Lua with os.clock); the best of five runs counts. Peak
# resident memory is the largest of the five, read by /usr/bin/time. The
# three must print the same result line, or the run fails.
#   bench/run.sh [runs]      (XB_BUILD_DIR overrides build/native64, the
#                             x86_64 build; XB_BUILD_DIR=build/native times
#                             the i386 build; XB_BENCH_WORKLOADS picks some of
#                             "count mixed flip")
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${XB_BUILD_DIR:-$root/build/native64}
runs=${1:-5}
workloads=${XB_BENCH_WORKLOADS:-count mixed flip}

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
echo "timed build: $build (Linux ${arch:-i386}, $buildType), best of $runs"
if [ "${arch:-i386}" = i386 ] && [ "$(uname -m)" = x86_64 ] && grep -qs qemu-i386 /proc/sys/fs/binfmt_misc/* 2>/dev/null; then
    echo "note: i386 binaries run under qemu-user here, the others natively: the ratios are inflated"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# measure NAME COMMAND...: runs the command $runs times; sets best (seconds),
# peak (KiB) and result (the result line of the last run).
measure() {
    name=$1
    shift
    best=
    peak=0
    i=0
    while [ "$i" -lt "$runs" ]; do
        /usr/bin/time -f "peakkb %M" -o "$tmp/time" "$@" >"$tmp/out" || { echo "$name failed:"; cat "$tmp/out"; exit 1; }
        s=$(sed -n 's/^seconds //p' "$tmp/out")
        kb=$(sed -n 's/^peakkb //p' "$tmp/time")
        best=$(awk -v a="$best" -v b="$s" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }')
        [ "$kb" -gt "$peak" ] && peak=$kb
        i=$((i + 1))
    done
    result=$(grep '^result ' "$tmp/out")
    grep '^opcodes ' "$tmp/out" || true
}

for w in $workloads; do
    echo "== $w"
    measure interpreter "$build/xbbench" "$w"
    xb=$best xbkb=$peak xbres=$result
    measure lua5.4 lua5.4 "$here/$w.lua"
    lua=$best luakb=$peak luares=$result
    measure python3 /usr/bin/python3 "$here/$w.py"
    py=$best pykb=$peak pyres=$result
    if [ "$xbres" != "$luares" ] || [ "$xbres" != "$pyres" ]; then
        echo "results differ: interpreter '$xbres', lua '$luares', python '$pyres'"
        exit 1
    fi
    echo "$xbres (all three)"
    printf "%-12s %10s %12s\n" "" "CPU s" "peak KiB"
    printf "%-12s %10s %12s\n" interpreter "$xb" "$xbkb" lua5.4 "$lua" "$luakb" python3 "$py" "$pykb"
    awk -v xb="$xb" -v lua="$lua" -v py="$py" -v xk="$xbkb" -v lk="$luakb" -v pk="$pykb" 'BEGIN {
        printf "time   interpreter/lua5.4 %.2f, interpreter/python3 %.2f\n", xb / lua, xb / py
        printf "memory interpreter/lua5.4 %.2f, interpreter/python3 %.2f\n", xk / lk, xk / pk }'
done
