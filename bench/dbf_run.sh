#!/bin/sh
# The table driver against SQLite and python3-dbf: a million records of five
# fields (C 20, N 10.2, D, L, M with a short memo in every tenth record)
# appended and then read back whole; SQLite (the sqlite3 shell) inserts the
# same rows in one transaction and scans them; python3-dbf appends and reads
# the first 100,000 (about 50 us a row), its time scaled to the full count.
# Prints the times, the ratios (above 1: this driver is faster) and the
# peak resident memory of the driver's process and of the largest sqlite3
# process (each sqlite3 run is measured by /usr/bin/time where installed).
#   bench/dbf_run.sh [count]     (XB_BUILD_DIR overrides build/native64)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${XB_BUILD_DIR:-$root/build/native64}
count=${1:-1000000}
pycount=$((count < 100000 ? count : 100000))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then (cd "$root" && cmake --preset native64 >/dev/null); fi
cmake --build "$build" --target xbdbfbench -j2 >/dev/null
. "$here/sqlite_side.sh"
describe_build

out=$("$build/xbdbfbench" "$count" "$work")
echo "$out" | grep -v '^append \|^scan '
# The ratios compare CPU time (the process's own clock for each phase, and
# user + system time of each sqlite3 run): SQLite's fsync at COMMIT waits
# on the disk, which would flatter this driver in elapsed time.
xa=$(echo "$out" | sed -n 's/^cpu time: append \([0-9.]*\) s, scan \([0-9.]*\) s.*/\1/p')
xs=$(echo "$out" | sed -n 's/^cpu time: append \([0-9.]*\) s, scan \([0-9.]*\) s.*/\2/p')

sa=0; ss=0
if command -v sqlite3 >/dev/null; then
    t0=$(now)
    sq "$work/s.db" "CREATE TABLE t(name TEXT, amount REAL, d TEXT, ok INTEGER, notes TEXT); BEGIN;
      WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < $count)
      INSERT INTO t SELECT printf('name %07d', i), i * 1.25, date('2000-01-01', '+' || (i % 3650) || ' days'),
        i % 2, CASE WHEN i % 10 = 0 THEN 'memo of record ' || i ELSE NULL END FROM c; COMMIT;"
    t1=$(now)
    sa=$(lastcpu "$t0" "$t1")
    rm -f "$work/last"
    describe_sqlite "$work/s.db"
    t1=$(now)
    sq "$work/s.db" "SELECT sum(length(name)), sum(amount), sum(length(d)), sum(ok), sum(length(notes)) FROM t;" >/dev/null
    t2=$(now)
    ss=$(lastcpu "$t1" "$t2")
    echo "sqlite3 CPU time: insert $sa s, scan $ss s"
else
    echo "sqlite3 shell not installed: no SQLite comparison"
fi

pa=0; ps=0
if /usr/bin/python3 -c 'import dbf' 2>/dev/null; then
    times=$(/usr/bin/python3 - "$work/p" "$pycount" <<'PY'
import dbf, sys, time, datetime
name, n = sys.argv[1], int(sys.argv[2])
t = dbf.Table(name, 'name C(20); amount N(10,2); when D; ok L; notes M', dbf_type='db3')
t.open(dbf.READ_WRITE)
base = datetime.date(2000, 1, 1)
t0 = time.time()
for i in range(1, n + 1):
    t.append(('name %07d' % i, i * 1.25, base + datetime.timedelta(days=i % 3650), bool(i % 2),
              'memo of record %d' % i if i % 10 == 0 else ''))
t.close()
t1 = time.time()
t = dbf.Table(name); t.open()
for r in t:
    (r.name, r.amount, r.when, r.ok, r.notes)
t.close()
print(t1 - t0, time.time() - t1)
PY
)
    pa=$(echo "$times" | awk -v c="$count" -v p="$pycount" '{ print $1 * c / p }')
    ps=$(echo "$times" | awk -v c="$count" -v p="$pycount" '{ print $2 * c / p }')
    echo "python3-dbf: append $pa s, read $ps s (scaled from $pycount rows)"
else
    echo "python3-dbf not installed: no comparison"
fi

xr=$(echo "$out" | sed -n 's/^peak memory: .*resident \([0-9]*\) kB.*/\1/p')
sr=0
if [ -s "$work/rss" ]; then sr=$(sort -n "$work/rss" | tail -n 1); fi
awk -v xr="$xr" -v sr="$sr" -v xa="$xa" -v xs="$xs" -v sa="$sa" -v ss="$ss" -v pa="$pa" -v ps="$ps" 'BEGIN {
    printf "driver CPU time: append %.3f s, scan %.3f s\n", xa, xs
    if (sa > 0 && xa > 0 && xs > 0) printf "sqlite3/driver CPU time ratio: append %.2f, scan %.2f\n", sa / xa, ss / xs
    if (pa > 0) printf "python3-dbf/driver time ratio: append %.2f, read %.2f\n", pa / xa, ps / xs
    if (sr > 0) printf "peak resident memory: driver %d kB, sqlite3 %d kB (largest of its runs), driver/sqlite3 %.2f\n", xr, sr, xr / sr
}'
