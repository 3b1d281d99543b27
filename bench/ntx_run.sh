#!/bin/sh
# The index engine against SQLite: a table of a million rows (a 10-character
# name and a 10-digit number, half of them negative), an index built on each
# column, 100,000 random exact lookups on the name and a full walk in name
# order. SQLite (the sqlite3 shell) gets the same rows and does CREATE INDEX
# on each column, the same lookups (a join of 100,000 keys against the
# indexed column) and an ordered scan through the index. Prints the times,
# the ratios (above 1: this engine is faster) and the peak resident memory
# of the engine's process and of the largest sqlite3 process (each sqlite3
# run is measured by /usr/bin/time where installed).
#   bench/ntx_run.sh [count]     (XB_BUILD_DIR overrides build/native64)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${XB_BUILD_DIR:-$root/build/native64}
count=${1:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then (cd "$root" && cmake --preset native64 >/dev/null); fi
cmake --build "$build" --target xbntxbench -j2 >/dev/null
# Says which build is timed and how SQLite keeps its journal, so that the
# numbers can be read for what they are.
describe_build() {
    bt=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
    arch=$(sed -n 's/^XB_ARCH:[A-Z]*=//p' "$build/CMakeCache.txt")
    echo "timed build: $build (${bt:-default type}, ${arch:-default architecture})"
}
describe_sqlite() {
    jm=$(sqlite3 "$1" "PRAGMA journal_mode;")
    sy=$(sqlite3 "$1" "PRAGMA synchronous;")
    echo "sqlite3 $(sqlite3 --version | cut -d' ' -f1): journal_mode $jm, synchronous $sy (the shell's defaults)"
}
describe_build

out=$("$build/xbntxbench" "$count" "$work")
echo "$out" | grep -v '^build_c \|^build_n \|^seek \|^skip '
get() { echo "$out" | sed -n "s/^$1 //p"; }
# The ratios compare CPU time (the process's own clock for each phase, and
# user + system time of each sqlite3 run): SQLite's fsync after CREATE INDEX
# waits on the disk, which would flatter this engine in elapsed time.
cpu() { echo "$out" | sed -n "s/^cpu time: .*$1 \([0-9.]*\) s.*/\1/p"; }
xc=$(cpu "build C 10"); xn=$(cpu "build N 10"); xs=$(cpu "seeks"); xk=$(cpu "ordered skip")

if ! command -v sqlite3 >/dev/null; then
    echo "sqlite3 shell not installed: no SQLite comparison"
    exit 0
fi
now() { date +%s.%N; }
# sq ARGS...: the sqlite3 shell. With /usr/bin/time its peak resident memory
# (kB) is appended to $work/rss and its CPU time (user + system) is left in
# $work/last for lastcpu; without it only elapsed time can be compared.
sq() {
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -o "$work/last" -f '%M %U %S' sqlite3 "$@"
        cut -d' ' -f1 "$work/last" >>"$work/rss"
    else
        sqlite3 "$@"
    fi
}
# lastcpu T0 T1: the CPU seconds of the last sq run, or T1 - T0 (elapsed)
# when they cannot be read.
lastcpu() {
    if [ -s "$work/last" ]; then awk '{ printf "%.3f", $2 + $3 }' "$work/last"; else echo "$2 - $1" | bc -l; fi
}
sq "$work/s.db" "CREATE TABLE t(name TEXT, num INTEGER); BEGIN;
  WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < $count)
  INSERT INTO t SELECT printf('k%09d', (i * 7919) % $count), ((i * 104729) % $count) - $count / 2 FROM c; COMMIT;
  CREATE TABLE k(name TEXT); BEGIN;
  WITH RECURSIVE c(i, s) AS (SELECT 1, 12345 * 1103515245 + 12345 UNION ALL
    SELECT i + 1, (s * 1103515245 + 12345) % 4294967296 FROM c WHERE i < 100000)
  INSERT INTO k SELECT printf('k%09d', ((s % 4294967296) / 256) % $count) FROM c; COMMIT;"
describe_sqlite "$work/s.db"
rm -f "$work/last"
t0=$(now); sq "$work/s.db" "CREATE INDEX tn ON t(name);"
t1=$(now); sc=$(lastcpu "$t0" "$t1")
sq "$work/s.db" "CREATE INDEX tm ON t(num);"
t2=$(now); sn=$(lastcpu "$t1" "$t2")
sq "$work/s.db" "SELECT count(*) FROM k JOIN t INDEXED BY tn ON t.name = k.name;" >/dev/null
t3=$(now); ss=$(lastcpu "$t2" "$t3")
sq "$work/s.db" "SELECT count(*) FROM (SELECT name FROM t INDEXED BY tn ORDER BY name);" >/dev/null
t4=$(now); sk=$(lastcpu "$t3" "$t4")
printf 'sqlite3 CPU time: create index name %.3f s, num %.3f s, 100000 lookups %.3f s, ordered scan %.3f s\n' "$sc" "$sn" "$ss" "$sk"
printf 'CPU time ratios (sqlite / this engine): build C %.2f, build N %.2f, seeks %.2f, ordered walk %.2f\n' \
    "$(echo "$sc / $xc" | bc -l)" "$(echo "$sn / $xn" | bc -l)" "$(echo "$ss / $xs" | bc -l)" "$(echo "$sk / $xk" | bc -l)"
xr=$(echo "$out" | sed -n 's/^peak memory: .*resident \([0-9]*\) kB.*/\1/p')
if [ -s "$work/rss" ]; then
    sr=$(sort -n "$work/rss" | tail -n 1)
    printf 'peak resident memory: engine %d kB, sqlite3 %d kB (largest of its runs), engine/sqlite3 %.2f\n' \
        "$xr" "$sr" "$(echo "$xr / $sr" | bc -l)"
fi
