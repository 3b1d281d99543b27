# Wine helpers (sourced by tools/run-tests.sh and tools/run-main.sh).
#
# Every Wine command runs headless (no DISPLAY, so message boxes fail at once
# instead of waiting for a click), quiet (WINEDEBUG=-all), without the Mono
# and Gecko installers, in a prefix of its own, and under `timeout`.
#
#   xb_wine_available           Wine is installed (the 32-bit loader too)
#   xb_wine_setup               creates the 32-bit prefix once (~15 s natively,
#                               about a minute under qemu-user)
#   xb_wine_map_com1 DEVICE     maps COM1 to a Unix device, e.g. /dev/pts/3
#   xb_wine_run SECONDS EXE [ARGS...]
#                               runs EXE and returns its exit code (124 on
#                               timeout)
#   xb_wine_stop                ends the prefix's wineserver and its processes
#
# XB_WINEPREFIX chooses the prefix (default: $HOME/.xbwine).

XB_WINEPREFIX=${XB_WINEPREFIX:-$HOME/.xbwine}

xb_wine() {
  env -u DISPLAY -u WAYLAND_DISPLAY \
    WINEPREFIX="$XB_WINEPREFIX" WINEARCH=win32 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}

xb_wine_available() {
  command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 &&
    dpkg -s wine32:i386 >/dev/null 2>&1
}

# The wineserver is started here, with its output discarded: one started by
# a program's run would write its object dump into that run's error output
# when it is ended.
xb_wine_server() {
  xb_wine wineserver -p3 </dev/null >/dev/null 2>&1
  return 0
}

xb_wine_stop() {
  [ -d "$XB_WINEPREFIX" ] || return 0
  # It ends by itself a few seconds after its last program; force it after 30 s.
  if ! xb_wine timeout 30 wineserver -w >/dev/null 2>&1; then
    xb_wine timeout 30 wineserver -k >/dev/null 2>&1
    xb_wine timeout 30 wineserver -w >/dev/null 2>&1
  fi
  return 0
}

xb_wine_setup() {
  if [ -f "$XB_WINEPREFIX/.xb-ready" ]; then
    return 0
  fi
  echo "==> setting up the Wine prefix $XB_WINEPREFIX"
  # A prefix left half-made by an interrupted run is started afresh.
  xb_wine_stop
  rm -rf "$XB_WINEPREFIX"
  mkdir -p "$(dirname "$XB_WINEPREFIX")"
  if ! xb_wine timeout -k 10 600 wineboot -i </dev/null >"${TMPDIR:-/tmp}/xbwine-boot.log" 2>&1; then
    echo "wineboot failed; its output:" >&2
    tail -20 "${TMPDIR:-/tmp}/xbwine-boot.log" >&2
    xb_wine_stop
    return 1
  fi
  xb_wine timeout 120 wineserver -w >/dev/null 2>&1
  touch "$XB_WINEPREFIX/.xb-ready"
}

xb_wine_map_com1() {
  local device=$1
  [ -n "$device" ] || { echo "xb_wine_map_com1: no device given" >&2; return 1; }
  xb_wine_setup || return 1
  xb_wine timeout -k 10 300 wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$device" /f \
    </dev/null >/dev/null 2>&1 || { echo "wine reg add failed" >&2; return 1; }
  # The port table is read when the wineserver starts: end the running one.
  xb_wine timeout 30 wineserver -k >/dev/null 2>&1
  xb_wine timeout 30 wineserver -w >/dev/null 2>&1
  xb_wine_server
}

xb_wine_run() {
  local seconds=$1 rc
  shift
  xb_wine_setup || return 1
  xb_wine_server
  xb_wine timeout -k 10 "$seconds" wine "$@" </dev/null
  rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "wine: $1 did not finish within $seconds s" >&2
    xb_wine_stop
  fi
  return "$rc"
}
