#!/usr/bin/env bash
# The project's test command.
#
#   bash tools/run-tests.sh            the default set: native64 native64-sanitize native fuzz64 win32
#   bash tools/run-tests.sh all        every preset (adds native-sanitize)
#   bash tools/run-tests.sh native native-sanitize win32     only the listed presets
#   XB_PRESETS="native64 win32" bash tools/run-tests.sh
#
# Presets: native64 (Linux x86_64), native64-sanitize (x86_64 with ASan, UBSan
# and LeakSanitizer), native (Linux i386), native-sanitize (i386 with ASan and
# UBSan), fuzz64 (the fuzz targets, clang and libFuzzer on x86_64), win32
# (Windows i386, tested under Wine).
#
# First the layer check (tools/check-layers.sh: no folder includes one above
# it, see docs/architecture.md), counted as one test. Then for each Linux
# preset: configure, build everything, run the unit tests with
# ctest. For fuzz64: tools/fuzz-run.sh, a short run of each fuzz target
# (XB_FUZZ_SECONDS each, default 30; 0 skips them); a finding fails the run
# and its input's path is printed. When clang with libFuzzer cannot be
# installed, "SKIPPED: fuzz runs (<reason>)" stands above the total and that
# alone does not fail the run. For win32: configure, build everything, run
# build/win32/xbtests.exe under Wine.
#
# Missing packages are installed first, in groups (Linux builds, Windows
# build, Wine, fuzz targets; see tools/host-setup.sh) so that one failing
# does not block the others; Wine is installed in the background while the
# Linux presets build. When Wine cannot be installed because the package
# mirror cannot deliver it, win32 is still built, only its run under Wine is
# skipped, and a line "SKIPPED: Windows tests (Wine could not be installed:
# <reason>)" stands above the total; that alone does not fail the run.
#
# Environment: XB_JOBS (parallel jobs, default 2), XB_FUZZ_SECONDS (seconds
# per fuzz target, default 30; 0 skips them), XB_NO_INSTALL=1 (never install
# packages), XB_WINEPREFIX (Wine prefix, default ~/.xbwine),
# XB_WINE_TIMEOUT (seconds for the Wine test run, default 900),
# XB_APT_ATTEMPTS / XB_APT_RETRY_DELAY (installation attempts, default 3,
# 60 s apart), ASAN_OPTIONS / UBSAN_OPTIONS (added after each preset's own).
#
# Exits non-zero when any step fails; the last line sums up the tests run.

set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$(pwd)

source tools/host-setup.sh
source tools/wine-env.sh

usage() { sed -n '2,39p' "$0" | sed 's/^# \{0,1\}//'; }

ALL_PRESETS="native64 native64-sanitize native native-sanitize fuzz64 win32"
# native-sanitize is left out of the default set for CI time: under qemu-user
# (kernels without 32-bit support) it is the slowest run by far, and the
# 64-bit sanitizer run covers the same code with leak checking on.
DEFAULT_PRESETS="native64 native64-sanitize native fuzz64 win32"

presets=()
for arg in "$@"; do
  case $arg in
    -h|--help) usage; exit 0 ;;
    all) read -r -a presets <<< "$ALL_PRESETS" ;;
    native64|native64-sanitize|native|native-sanitize|fuzz64|win32) presets+=("$arg") ;;
    *) echo "unknown argument: $arg (presets: $ALL_PRESETS, or all)" >&2; exit 2 ;;
  esac
done
if [ ${#presets[@]} = 0 ]; then
  read -r -a presets <<< "${XB_PRESETS:-$DEFAULT_PRESETS}"
fi
for p in "${presets[@]}"; do
  case " $ALL_PRESETS " in
    *" $p "*) ;;
    *) echo "unknown preset in XB_PRESETS: $p (presets: $ALL_PRESETS)" >&2; exit 2 ;;
  esac
done
JOBS=${XB_JOBS:-2}
WINE_TIMEOUT=${XB_WINE_TIMEOUT:-900}
USER_ASAN_OPTIONS=${ASAN_OPTIONS:-}
USER_UBSAN_OPTIONS=${UBSAN_OPTIONS:-}

failed_steps=()
skipped=()
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
  # The benchmarks are outside the default build; compiling them here keeps
  # them in step with the interfaces they time.
  if [ "$preset" = native64 ] && ! cmake --build "build/$preset" -j"$JOBS" --target xbbenches >>"$LOGDIR/$preset-build.log" 2>&1; then
    grep -n -m 40 -E 'error|Error' "$LOGDIR/$preset-build.log"
    step_failed "$preset: benchmark build"
    return 1
  fi
}

# Sanitizer options for the programs of one preset, decided by what its test
# binary is: LeakSanitizer stops the other threads with ptrace, which
# qemu-user does not offer, so an i386 binary under emulation runs without
# leak checking (ASan and UBSan still run); a native one checks leaks.
sanitizer_env() {
  local preset=$1 leaks=1 asan ubsan
  if xb_elf_emulated "build/$preset/xbtests"; then leaks=0; fi
  asan="detect_leaks=$leaks${USER_ASAN_OPTIONS:+:$USER_ASAN_OPTIONS}"
  ubsan="halt_on_error=1:print_stacktrace=1${USER_UBSAN_OPTIONS:+:$USER_UBSAN_OPTIONS}"
  printf 'ASAN_OPTIONS=%s\nUBSAN_OPTIONS=%s\n' "$asan" "$ubsan"
}

run_ctest() {
  local preset=$1
  local log="$LOGDIR/$preset-ctest.log" bits env=()
  bits=$(xb_elf_bits "build/$preset/xbtests")
  if [ "$bits" = 32 ]; then
    # i386 programs: make sure they start (registering qemu-user if needed;
    # a Wine installation still going on has the package manager first).
    if [ -z "$XB_I386_EMULATED" ] && [ -n "$wine_job" ]; then finish_wine_install; fi
    if ! xb_ensure_i386; then
      step_failed "$preset: running i386 programs: $XB_SETUP_FAILURE"
      tests_failed=$((tests_failed + 1))
      return
    fi
    [ "$XB_I386_EMULATED" = 1 ] && echo "==> [$preset] i386 programs run under qemu-user here"
  fi
  mapfile -t env < <(sanitizer_env "$preset")
  echo "==> [$preset] ctest (${bits:-?}-bit; ${env[*]})"
  env "${env[@]}" ctest --test-dir "build/$preset" --output-on-failure --no-tests=error -j"$JOBS" 2>&1 | tee "$log"
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
  local t0=$SECONDS
  if ! xb_wine_setup; then
    step_failed "win32: Wine prefix"
    tests_failed=$((tests_failed + 1))
    return
  fi
  echo "==> [win32] Wine prefix ready ($((SECONDS - t0)) s)"
  t0=$SECONDS
  # Brief output: only failures and the summary (the Linux runs list every test).
  xb_wine_run "$WINE_TIMEOUT" "$exe" --gtest_brief=1 2>&1 | tr -d '\r' | tee "$log"
  local rc=${PIPESTATUS[0]}
  echo "==> [win32] xbtests.exe ran $((SECONDS - t0)) s under Wine"
  count_gtest "$log"
  [ "$rc" = 0 ] || step_failed "win32: tests (exit code $rc)"
  xb_wine_stop
}

# The fuzz targets, each counted as one test. Exit codes of tools/fuzz-run.sh:
# 0 clean, 3 skipped (its last line says why), anything else a finding or a
# failed build (it prints the inputs' paths).
run_fuzz() {
  local log="$LOGDIR/fuzz64.log" rc
  if [ -n "$fuzz_install_failure" ]; then
    echo "SKIPPED: fuzz runs ($fuzz_install_failure)" | tee "$log"
    rc=3
  else
    bash tools/fuzz-run.sh 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
  fi
  case $rc in
    0) tests_passed=$((tests_passed + 2)) ;;
    3) skipped+=("$(sed -n 's/^SKIPPED: //p' "$log" | tail -1)") ;;
    *)
      tests_failed=$((tests_failed + $(grep -c '^FINDING: ' "$log") ))
      tests_passed=$((tests_passed + $(grep -c ': no finding$' "$log") ))
      grep -q '^FINDING: ' "$log" || tests_failed=$((tests_failed + 1))
      step_failed "fuzz64: $(grep -E '^(FINDING|FAILED): ' "$log" | sed -E 's/^(FINDING|FAILED): //' | paste -sd';' -)" ;;
  esac
}

# Wine is installed in the background while the other presets build; its
# output goes to a log shown when the Windows run needs it.
wine_job=
wine_dir=
wine_state=
wine_reason=
start_wine_install() {
  wine_dir=$(mktemp -d) || return
  (
    xb_ensure_wine
    rc=$?
    printf '%s\n%s\n%s\n' "$rc" "$XB_SETUP_FAILURE_KIND" "$XB_SETUP_FAILURE" > "$wine_dir/status"
  ) >"$LOGDIR/wine-install.log" 2>&1 &
  wine_job=$!
}

# Sets wine_state to ready, skip (the mirror's fault) or fail, and wine_reason.
finish_wine_install() {
  local rc kind reason
  [ -n "$wine_state" ] && return
  wine_state=fail
  wine_reason="the Wine installation did not report back"
  [ -n "$wine_job" ] || return
  if kill -0 "$wine_job" 2>/dev/null; then echo "==> waiting for the Wine installation"; fi
  wait "$wine_job"
  wine_job=
  if [ -s "$LOGDIR/wine-install.log" ]; then
    sed 's/^/    | /' "$LOGDIR/wine-install.log"
  fi
  { read -r rc; read -r kind; read -r reason; } < "$wine_dir/status" || return
  rm -rf "$wine_dir"
  if [ "$rc" = 0 ]; then
    wine_state=ready
  elif [ "$kind" = mirror ]; then
    wine_state=skip
    wine_reason=$reason
  else
    wine_reason=$reason
  fi
}

# ---------------------------------------------------------------------------

start=$(date +%s)
LOGDIR="$ROOT/build/logs"
mkdir -p "$LOGDIR"

need_linux=0 need_win32=0 need_fuzz=0
for p in "${presets[@]}"; do
  case $p in win32) need_win32=1 ;; fuzz64) need_fuzz=1 ;; *) need_linux=1 ;; esac
done
[ "${XB_FUZZ_SECONDS:-30}" = 0 ] && need_fuzz=0
echo "==> presets: ${presets[*]}"

echo "==> layers (tools/check-layers.sh)"
if bash tools/check-layers.sh; then
  tests_passed=$((tests_passed + 1))
else
  tests_failed=$((tests_failed + 1))
  step_failed "layers: includes against the order of docs/architecture.md"
fi

if [ "$need_linux" = 1 ] && ! xb_ensure_linux_packages; then
  step_failed "packages for the Linux builds: $XB_SETUP_FAILURE"
fi
# clang for the fuzz targets before Wine's background installation takes
# the package manager; a failure here only skips the fuzz runs.
fuzz_install_failure=
if [ "$need_fuzz" = 1 ] && [ "$(uname -m)" = x86_64 ] && ! xb_ensure_fuzz_packages; then
  fuzz_install_failure="clang with libFuzzer could not be installed: $XB_SETUP_FAILURE"
fi
if [ "$need_win32" = 1 ]; then
  if ! xb_ensure_win32_packages; then
    step_failed "packages for the Windows build: $XB_SETUP_FAILURE"
  fi
  # Wine's loader is an i386 program: settle how those run before the
  # background installation, so that it never competes with us for apt.
  xb_ensure_i386 || true
  start_wine_install
fi

for preset in "${presets[@]}"; do
  t0=$(date +%s)
  if [ "$preset" = fuzz64 ]; then
    run_fuzz
  elif configure_and_build "$preset"; then
    if [ "$preset" = win32 ]; then
      finish_wine_install
      case $wine_state in
        ready) run_wine_tests ;;
        skip)
          echo "==> [win32] built; the run under Wine is skipped: Wine could not be installed ($wine_reason)"
          skipped+=("Windows tests (Wine could not be installed: $wine_reason)") ;;
        *) step_failed "win32: Wine could not be installed: $wine_reason" ;;
      esac
    else
      run_ctest "$preset"
    fi
  else
    tests_failed=$((tests_failed + 1))
  fi
  echo "==> [$preset] done in $(( $(date +%s) - t0 )) s"
done
[ -n "$wine_job" ] && wait "$wine_job"

echo
echo "==> finished in $(( $(date +%s) - start )) s; logs in build/logs/"
if [ ${#failed_steps[@]} -gt 0 ]; then
  printf 'failed step: %s\n' "${failed_steps[@]}"
fi
if [ ${#skipped[@]} -gt 0 ]; then
  printf 'SKIPPED: %s\n' "${skipped[@]}"
fi
echo "total: $tests_passed passed, $tests_failed failed"
[ ${#failed_steps[@]} = 0 ]
