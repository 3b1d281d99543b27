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
. "$here/sqlite_side.sh"
describe_build

out=$("$build/xbntxbench" "$count" "$work")
echo "$out" | grep -v '^build_c \|^build_n \|^seek \|^skip '
# The ratios compare CPU time (the process's own clock for each phase, and
# user + system time of each sqlite3 run): SQLite's fsync after CREATE INDEX
# waits on the disk, which would flatter this engine in elapsed time.
cpu() { echo "$out" | sed -n "s/^cpu time: .*$1 \([0-9.]*\) s.*/\1/p"; }
xc=$(cpu "build C 10"); xn=$(cpu "build N 10"); xs=$(cpu "seeks"); xk=$(cpu "ordered skip")

if ! command -v sqlite3 >/dev/null; then
    echo "sqlite3 shell not installed: no SQLite comparison"
    exit 0
fi
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
# A phase too short for the clock to see has no ratio ("-").
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else printf "-" }'; }
echo "CPU time ratios (sqlite / this engine): build C $(ratio "$sc" "$xc"), build N $(ratio "$sn" "$xn"), seeks $(ratio "$ss" "$xs"), ordered walk $(ratio "$sk" "$xk")"
xr=$(echo "$out" | sed -n 's/^peak memory: .*resident \([0-9]*\) kB.*/\1/p')
if [ -s "$work/rss" ]; then
    sr=$(sort -n "$work/rss" | tail -n 1)
    printf 'peak resident memory: engine %d kB, sqlite3 %d kB (largest of its runs), engine/sqlite3 %.2f\n' \
        "$xr" "$sr" "$(echo "$xr / $sr" | bc -l)"
fi
