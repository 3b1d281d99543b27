#!/usr/bin/env bash
# The project's test command.
#
#   bash tools/run-tests.sh                   all presets: native, native-sanitize, win32
#   bash tools/run-tests.sh native            only the listed presets
#   XB_PRESETS="native win32" bash tools/run-tests.sh
#
# For each Linux preset: configure, build everything, run the unit tests with
# ctest. For win32: configure, build everything, run build/win32/xbtests.exe
# under Wine. Missing packages are installed first (see tools/host-setup.sh);
# on a kernel without 32-bit emulation the i386 programs run under qemu-user.
#
# Environment: XB_JOBS (parallel jobs, default 2), XB_NO_INSTALL=1 (never
# install packages), XB_WINEPREFIX (Wine prefix, default ~/.xbwine),
# XB_WINE_TIMEOUT (seconds for the Wine test run, default 900).
#
# Exits non-zero when any step fails; the last line sums up the tests run.

set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$(pwd)

source tools/host-setup.sh
source tools/wine-env.sh

usage() { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; }

presets=()
for arg in "$@"; do
  case $arg in
    -h|--help) usage; exit 0 ;;
    native|native-sanitize|win32) presets+=("$arg") ;;
    *) echo "unknown argument: $arg (presets: native native-sanitize win32)" >&2; exit 2 ;;
  esac
done
if [ ${#presets[@]} = 0 ]; then
  read -r -a presets <<< "${XB_PRESETS:-native native-sanitize win32}"
fi
JOBS=${XB_JOBS:-2}
WINE_TIMEOUT=${XB_WINE_TIMEOUT:-900}

failed_steps=()
tests_passed=0
tests_failed=0

step_failed() {
  failed_steps+=("$1")
  echo "FAILED: $1" >&2
}

# ctest's summary: "100% tests passed, 0 tests failed out of 42".
count_ctest() {
  local line total failed
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then
    tests_failed=$((tests_failed + 1))
    return
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<< "$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<< "$line")
  tests_passed=$((tests_passed + total - failed))
  tests_failed=$((tests_failed + failed))
}

# GoogleTest's summary: "[==========] 40 tests from 9 test suites ran.",
# "[  PASSED  ] 38 tests." and, when some were skipped, "[  SKIPPED ] 1 test".
# (With --gtest_brief the failed ones are not counted in a line of their own.)
count_gtest() {
  local ran passed skipped
  ran=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$1" | tail -1)
  passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$1" | tail -1)
  skipped=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?, listed below.*/\1/p; s/^\[  SKIPPED \] ([0-9]+) tests?\.$/\1/p' "$1" | tail -1)
  if [ -z "$ran" ]; then
    tests_failed=$((tests_failed + 1))       # crashed or timed out before its summary
    return
  fi
  passed=${passed:-0}
  tests_passed=$((tests_passed + passed))
  tests_failed=$((tests_failed + ran - passed - ${skipped:-0}))
}

configure_and_build() {
  local preset=$1
  echo "==> [$preset] configure"
  if ! cmake --preset "$preset" >"$LOGDIR/$preset-configure.log" 2>&1; then
    cat "$LOGDIR/$preset-configure.log"
    step_failed "$preset: configure"
    return 1
  fi
  echo "==> [$preset] build (-j$JOBS)"
  if ! cmake --build "build/$preset" -j"$JOBS" >"$LOGDIR/$preset-build.log" 2>&1; then
    # The first errors are the useful ones.
    grep -n -m 40 -E 'error|Error' "$LOGDIR/$preset-build.log"
    echo "(full log: $LOGDIR/$preset-build.log)"
    step_failed "$preset: build"
    return 1
  fi
}

run_ctest() {
  local preset=$1
  local log="$LOGDIR/$preset-ctest.log"
  echo "==> [$preset] ctest"
  ctest --test-dir "build/$preset" --output-on-failure --no-tests=error -j"$JOBS" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  count_ctest "$log"
  [ "$rc" = 0 ] || step_failed "$preset: tests"
}

run_wine_tests() {
  local log="$LOGDIR/win32-wine.log" exe="build/win32/xbtests.exe"
  echo "==> [win32] xbtests.exe under Wine"
  if [ ! -f "$exe" ]; then
    echo "$exe was not built"
    step_failed "win32: tests"
    tests_failed=$((tests_failed + 1))
    return
  fi
  if ! xb_wine_setup; then
    step_failed "win32: Wine prefix"
    tests_failed=$((tests_failed + 1))
    return
  fi
  # Brief output: only failures and the summary (the Linux runs list every test).
  xb_wine_run "$WINE_TIMEOUT" "$exe" --gtest_brief=1 2>&1 | tr -d '\r' | tee "$log"
  local rc=${PIPESTATUS[0]}
  count_gtest "$log"
  [ "$rc" = 0 ] || step_failed "win32: tests (exit code $rc)"
  xb_wine_stop
}

# ---------------------------------------------------------------------------

start=$(date +%s)
LOGDIR="$ROOT/build/logs"
mkdir -p "$LOGDIR"

need_wine=0
for p in "${presets[@]}"; do [ "$p" = win32 ] && need_wine=1; done

echo "==> checking the build packages"
if ! xb_ensure_packages; then
  step_failed "package installation"
fi
if ! xb_ensure_i386; then
  step_failed "running i386 programs"
fi
if [ "$XB_I386_EMULATED" = 1 ]; then
  echo "==> i386 programs run under qemu-user on this machine (no 32-bit kernel support)"
fi

# LeakSanitizer stops the other threads with ptrace, which qemu-user does not
# offer; under emulation leak checking stays off (ASan and UBSan still run).
if [ "$XB_I386_EMULATED" = 1 ]; then leaks=0; else leaks=1; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=$leaks}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
echo "==> ASAN_OPTIONS=$ASAN_OPTIONS UBSAN_OPTIONS=$UBSAN_OPTIONS"

for preset in "${presets[@]}"; do
  t0=$(date +%s)
  if configure_and_build "$preset"; then
    if [ "$preset" = win32 ]; then
      if [ "$need_wine" = 1 ] && xb_wine_available; then
        run_wine_tests
      else
        echo "Wine is not installed: build/win32/xbtests.exe was built but not run"
        step_failed "win32: Wine missing"
      fi
    else
      run_ctest "$preset"
    fi
  else
    tests_failed=$((tests_failed + 1))
  fi
  echo "==> [$preset] done in $(( $(date +%s) - t0 )) s"
done

echo
echo "==> finished in $(( $(date +%s) - start )) s; logs in build/logs/"
if [ ${#failed_steps[@]} -gt 0 ]; then
  printf 'failed step: %s\n' "${failed_steps[@]}"
fi
echo "total: $tests_passed passed, $tests_failed failed"
[ ${#failed_steps[@]} = 0 ]
