#!/usr/bin/env bash
# The main job, end to end: the serial-port test program against a stand-in
# serial line.
#
#   bash tools/run-main.sh            Linux build, then the Windows build under Wine
#   bash tools/run-main.sh native     only the Linux build
#   bash tools/run-main.sh win32      only the Windows build
#
# Builds what is needed (build/native/comtest; build/win32/comtest.exe when
# Wine is there), makes a pseudo-terminal set to 9600 baud and runs the
# program against it: the Linux build with the runtime switch
# /COM1=<terminal>, the Windows build with Wine's COM1 mapped to the terminal.
# For each it prints what arrived on the line, the line settings seen while
# the program ran and after it ended, the error log if one was written, and
# the exit code (tools/ptymon.py does the watching).
#
# Environment: XB_JOBS (default 2), XB_NO_INSTALL=1, XB_WINEPREFIX,
# XB_RUN_TIMEOUT (seconds per run, default 300).
# Exits 0 when every run ended with exit code 0.

set -u -o pipefail
cd "$(dirname "$0")/.." || exit 1

source tools/host-setup.sh
source tools/wine-env.sh

PY=/usr/bin/python3
[ -x "$PY" ] || PY=$(command -v python3)
JOBS=${XB_JOBS:-2}
RUN_TIMEOUT=${XB_RUN_TIMEOUT:-300}

targets=()
for arg in "$@"; do
  case $arg in
    native|win32) targets+=("$arg") ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $arg (native, win32)" >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} = 0 ] && targets=(native win32)

if [ ! -f tools/comtest_main.cpp ]; then
  echo "run-main: the program's entry file tools/comtest_main.cpp is not written yet; nothing to run." >&2
  exit 1
fi

xb_ensure_packages || exit 1
xb_ensure_i386 || exit 1

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
overall=0

run_native() {
  build_comtest native || { results+=("native: not built"); overall=1; return; }
  rm -f build/native/Error.txt
  echo
  echo "==> running build/native/comtest against a pseudo-terminal"
  "$PY" tools/ptymon.py --label native --baud 9600 --timeout "$RUN_TIMEOUT" -- \
    build/native/comtest '/COM1={pty}'
  local rc=$?
  show_error_log native
  results+=("native: exit code $rc")
  [ "$rc" = 0 ] || overall=1
}

run_win32() {
  if ! xb_wine_available; then
    echo "==> Wine is not installed: the Windows build is not run"
    results+=("win32: skipped (no Wine)")
    return
  fi
  build_comtest win32 || { results+=("win32: not built"); overall=1; return; }
  xb_wine_setup || { results+=("win32: no Wine prefix"); overall=1; return; }
  rm -f build/win32/Error.txt
  echo
  echo "==> running build/win32/comtest.exe under Wine, COM1 mapped to a pseudo-terminal"
  # The mapping needs the terminal's name, so it is made inside the monitored
  # command; the program itself starts once the wineserver has restarted.
  "$PY" tools/ptymon.py --label win32 --baud 9600 --timeout $((RUN_TIMEOUT + 300)) -- \
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
    native) run_native ;;
    win32) run_win32 ;;
  esac
  echo
done

echo "==> summary"
printf '    %s\n' "${results[@]}"
exit $overall
