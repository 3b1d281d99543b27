# Shell functions shared by the table and index benchmarks (sourced; they
# use $build and $work of the script that sources them).

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
