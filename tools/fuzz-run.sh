#!/usr/bin/env bash
# Short runs of the fuzz targets (part of tools/run-tests.sh; also usable
# alone):
#
#   bash tools/fuzz-run.sh [SECONDS]     SECONDS per target (default
#                                        XB_FUZZ_SECONDS, else 30)
#
# Builds the fuzz64 preset (clang, libFuzzer, ASan, UBSan, LeakSanitizer on
# x86_64), writes the table seed corpus, then runs
#   xbfuzz_macro  macro texts compiled and run      seeds: tools/fuzz/corpus
#   xbfuzz_compile source files compiled            seeds: tools/fuzz/corpus-compile
#   xbfuzz_dbf    a table and its memo opened, read seeds: build/fuzz64/seeds-dbf
#   xbfuzz_pp     source text preprocessed          seeds: tools/fuzz/corpus-pp
#   xbfuzz_payload an executable's program decoded and assembled
#                                                   seeds: tools/fuzz/payload-seeds
# one after the other. What a run adds to its corpus is kept in
# build/fuzz64/corpus-<target> and used again by the next run. Logs go to
# build/logs/fuzz-<target>.log.
#
# Exit code: 0 when all ran clean; 1 on a finding (a crash, a sanitizer
# report, a leak, an input running longer than XB_FUZZ_TIMEOUT seconds,
# default 60) or when the build fails, with the crashing input's path and a
# command that replays it; 3 when clang with libFuzzer cannot be installed or
# cannot link a fuzz target here, or SECONDS is 0, with a line
# "SKIPPED: fuzz runs (<why>)".
#
# Environment: XB_FUZZ_SECONDS, XB_FUZZ_TIMEOUT, XB_FUZZ_OPTIONS (more
# libFuzzer options for every run, e.g. -max_len=16384), XB_JOBS (build
# jobs, default 2), and what tools/host-setup.sh reads (XB_NO_INSTALL=1, ...).

set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
source tools/host-setup.sh

FUZZ_SECONDS=${1:-${XB_FUZZ_SECONDS:-30}}
FUZZ_TIMEOUT=${XB_FUZZ_TIMEOUT:-60}
JOBS=${XB_JOBS:-2}
BUILD=build/fuzz64
LOGDIR=build/logs
mkdir -p "$LOGDIR"
case $FUZZ_SECONDS in
  ''|*[!0-9]*) echo "fuzz-run: seconds must be a whole number, not '$FUZZ_SECONDS'" >&2; exit 2 ;;
esac

skip() {
  echo "SKIPPED: fuzz runs ($1)"
  exit 3
}

# libFuzzer reads -max_total_time=0 as "no limit".
[ "$FUZZ_SECONDS" = 0 ] && skip "XB_FUZZ_SECONDS=0"

[ "$(uname -m)" = x86_64 ] || skip "the fuzz targets are built for x86_64, this host is $(uname -m)"
if ! xb_ensure_fuzz_packages; then
  skip "clang with libFuzzer could not be installed: $XB_SETUP_FAILURE"
fi

# Some installations have clang without its compiler-rt fuzzer library.
probe_dir=$(mktemp -d)
printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
  'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' > "$probe_dir/p.cpp"
if ! clang++ -fsanitize=fuzzer,address "$probe_dir/p.cpp" -o "$probe_dir/p" >"$probe_dir/log" 2>&1; then
  why=$(grep -m1 -iE 'error|cannot' "$probe_dir/log")
  rm -rf "$probe_dir"
  skip "clang++ -fsanitize=fuzzer cannot link a program here: ${why:-unknown reason}"
fi
rm -rf "$probe_dir"

echo "==> [fuzz64] configure"
if ! cmake --preset fuzz64 >"$LOGDIR/fuzz64-configure.log" 2>&1; then
  cat "$LOGDIR/fuzz64-configure.log"
  echo "FAILED: fuzz64: configure"
  exit 1
fi
echo "==> [fuzz64] build xbfuzz_macro xbfuzz_compile xbfuzz_dbf xbfuzz_pp xbfuzz_payload (-j$JOBS)"
if ! cmake --build "$BUILD" -j"$JOBS" --target xbfuzz_macro xbfuzz_compile xbfuzz_dbf xbfuzz_pp xbfuzz_payload >"$LOGDIR/fuzz64-build.log" 2>&1; then
  grep -n -m 40 -E 'error|Error' "$LOGDIR/fuzz64-build.log"
  echo "(full log: $LOGDIR/fuzz64-build.log)"
  echo "FAILED: fuzz64: build"
  exit 1
fi

rm -rf "$BUILD/seeds-dbf"
if ! python3 tools/fuzz/make_dbf_seeds.py "$BUILD/seeds-dbf"; then
  echo "FAILED: fuzz64: writing the table seed corpus"
  exit 1
fi

findings=0
# run_target NAME SEED_DIR [libFuzzer options...]
run_target() {
  local name=$1 seeds=$2 log="$LOGDIR/fuzz-$1.log" rc input
  shift 2
  local work="$BUILD/corpus-$name" out="$BUILD/findings" scratch="$BUILD/scratch-$name"
  mkdir -p "$work" "$out" "$scratch"
  echo "==> [fuzz64] $name for $FUZZ_SECONDS s (seeds: $seeds)"
  TMPDIR="$scratch" \
  ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" \
    "$BUILD/$name" -max_total_time="$FUZZ_SECONDS" -timeout="$FUZZ_TIMEOUT" -rss_limit_mb=2048 \
      -artifact_prefix="$out/$name-" -print_final_stats=1 "$@" ${XB_FUZZ_OPTIONS:-} \
      "$work" "$seeds" >"$log" 2>&1
  rc=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$log" | sed 's/^/    /'
  if [ "$rc" = 0 ]; then
    echo "==> [fuzz64] $name: no finding"
    return
  fi
  findings=$((findings + 1))
  input=$(sed -nE 's/.*Test unit written to (.*)$/\1/p' "$log" | tail -1)
  echo "FINDING: $name stopped with exit code $rc"
  grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|ALARM|==[0-9]+== ERROR)' "$log" | sed 's/^/    /'
  if [ -n "$input" ]; then
    echo "    crashing input: $input"
    echo "    replay: ASAN_OPTIONS=detect_leaks=1 TMPDIR=/tmp $BUILD/$name $input"
  else
    echo "    no input was written; see the log"
  fi
  echo "    log: $log"
}

run_target xbfuzz_macro tools/fuzz/corpus -max_len=4096 -dict=tools/fuzz/macro.dict
run_target xbfuzz_compile tools/fuzz/corpus-compile -max_len=8192 -dict=tools/fuzz/compile.dict
run_target xbfuzz_dbf "$BUILD/seeds-dbf" -max_len=8192
run_target xbfuzz_pp tools/fuzz/corpus-pp -max_len=4096 -dict=tools/fuzz/pp.dict
run_target xbfuzz_payload tools/fuzz/payload-seeds -max_len=8192

[ "$findings" = 0 ]
