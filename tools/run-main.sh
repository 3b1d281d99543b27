#!/usr/bin/env bash
# The main job, end to end: the serial-port test program against a stand-in
# serial line.
#
#   bash tools/run-main.sh            the 64-bit Linux build, then the Windows build under Wine
#   bash tools/run-main.sh native64   only the 64-bit Linux build
#   bash tools/run-main.sh native     only the i386 Linux build
#   bash tools/run-main.sh win32      only the Windows build
#
# Builds what is needed (build/<preset>/comtest, build/win32/comtest.exe),
# makes a pseudo-terminal set to 9600 baud and runs the program against it:
# a Linux build with the runtime switch /COM1=<terminal>, the Windows build
# with Wine's COM1 mapped to the terminal. For each it prints what arrived on
# the line, the line settings seen while the program ran and after it ended,
# the error log if one was written, and the exit code (tools/ptymon.py does
# the watching).
#
# The packages of each build are installed on their own (tools/host-setup.sh):
# the Linux build runs whenever its packages are there, even when Wine cannot
# be installed. When the package mirror cannot deliver Wine, the Windows run
# is skipped with a line "SKIPPED: Windows run (Wine could not be installed:
# <reason>)", which alone does not fail the job.
#
# Environment: XB_JOBS (default 2), XB_NO_INSTALL=1, XB_WINEPREFIX,
# XB_RUN_TIMEOUT (seconds per run, default 300), XB_APT_ATTEMPTS,
# XB_APT_RETRY_DELAY.
# Exits 0 when every run that was not skipped ended with exit code 0.

set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1

source tools/host-setup.sh
source tools/wine-env.sh

JOBS=${XB_JOBS:-2}
RUN_TIMEOUT=${XB_RUN_TIMEOUT:-300}

targets=()
for arg in "$@"; do
  case $arg in
    native64|native|win32) targets+=("$arg") ;;
    -h|--help) sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $arg (native64, native, win32)" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} = 0 ] && targets=(native64 win32)

if [ ! -f tools/comtest_main.cpp ]; then
  echo "run-main: the program's entry file tools/comtest_main.cpp is not written yet; nothing to run." >&2
  exit 1
fi

# tools/ptymon.py watches the line.
if ! xb_ensure_group "the line monitor" python3; then
  echo "run-main: $XB_SETUP_FAILURE" >&2
  exit 1
fi
PY=/usr/bin/python3
[ -x "$PY" ] || PY=$(command -v python3)

build_comtest() {
  local preset=$1
  local log="build/$preset-comtest-build.log"
  mkdir -p build
  echo "==> building comtest ($preset)"
  if ! cmake --preset "$preset" >"$log" 2>&1 ||
     ! cmake --build "build/$preset" --target comtest -j"$JOBS" >>"$log" 2>&1; then
    grep -m 30 -E 'error|Error' "$log"
    echo "run-main: comtest ($preset) did not build; full log: $log" >&2
    return 1
  fi
  if [ ! -f "build/$preset/comtest" ] && [ ! -f "build/$preset/comtest.exe" ]; then
    echo "run-main: the $preset build has no comtest target (see cmake/executables.cmake)" >&2
    return 1
  fi
}

show_error_log() {
  local log="build/$1/Error.txt"
  if [ -f "$log" ]; then
    echo "--- $1: error log $log:"
    tr -d '\r' < "$log" | sed 's/^/    /'
  else
    echo "--- $1: no error log written"
  fi
}

results=()
skipped=()
overall=0

run_linux() {
  local preset=$1
  if ! xb_ensure_linux_packages; then
    results+=("$preset: not run (packages missing: $XB_SETUP_FAILURE)"); overall=1; return
  fi
  build_comtest "$preset" || { results+=("$preset: not built"); overall=1; return; }
  if [ "$(xb_elf_bits "build/$preset/comtest")" = 32 ] && ! xb_ensure_i386; then
    results+=("$preset: not run (i386 programs do not run here: $XB_SETUP_FAILURE)"); overall=1; return
  fi
  rm -f "build/$preset/Error.txt"
  echo
  echo "==> running build/$preset/comtest against a pseudo-terminal"
  "$PY" tools/ptymon.py --label "$preset" --baud 9600 --timeout "$RUN_TIMEOUT" -- \
    "build/$preset/comtest" '/COM1={pty}'
  local rc=$?
  show_error_log "$preset"
  results+=("$preset: exit code $rc")
  [ "$rc" = 0 ] || overall=1
}

run_win32() {
  if ! xb_ensure_win32_packages; then
    results+=("win32: not built (packages missing: $XB_SETUP_FAILURE)"); overall=1; return
  fi
  build_comtest win32 || { results+=("win32: not built"); overall=1; return; }
  if ! xb_ensure_wine; then
    if [ "$XB_SETUP_FAILURE_KIND" = mirror ]; then
      echo "==> build/win32/comtest.exe was built; its run under Wine is skipped: Wine could not be installed ($XB_SETUP_FAILURE)"
      results+=("win32: built, not run (no Wine)")
      skipped+=("Windows run (Wine could not be installed: $XB_SETUP_FAILURE)")
    else
      results+=("win32: not run (Wine could not be installed: $XB_SETUP_FAILURE)"); overall=1
    fi
    return
  fi
  xb_wine_setup || { results+=("win32: no Wine prefix"); overall=1; return; }
  rm -f build/win32/Error.txt
  echo
  echo "==> running build/win32/comtest.exe under Wine, COM1 mapped to a pseudo-terminal"
  # The mapping needs the terminal's name, so it is made inside the monitored
  # command; the program itself starts once the wineserver has restarted.
  # Wine switches the line, writes and switches back within a millisecond,
  # quicker than the monitor polls: the line is held with XOFF until the
  # switch is seen, so that the speed during the write shows.
  "$PY" tools/ptymon.py --label win32 --baud 9600 --timeout $((RUN_TIMEOUT + 300)) --hold 120 -- \
    bash -c 'source tools/wine-env.sh && xb_wine_map_com1 "$XB_PTY" &&
             echo "(COM1 -> $XB_PTY)" && xb_wine_run '"$RUN_TIMEOUT"' build/win32/comtest.exe'
  local rc=$?
  show_error_log win32
  xb_wine_stop
  results+=("win32: exit code $rc")
  [ "$rc" = 0 ] || overall=1
}

for t in "${targets[@]}"; do
  case $t in
    native64|native) run_linux "$t" ;;
    win32) run_win32 ;;
  esac
  echo
done

echo "==> summary"
printf '    %s\n' "${results[@]}"
if [ ${#skipped[@]} -gt 0 ]; then
  printf 'SKIPPED: %s\n' "${skipped[@]}"
fi
exit $overall
