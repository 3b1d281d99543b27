# Host preparation shared by tools/run-tests.sh and tools/run-main.sh (sourced).
#
# Packages come in three groups, installed separately so that a failure in
# one (typically Wine's i386 packages while the distribution's mirror is
# half-synced) does not keep the others from being installed and used:
#
#   xb_ensure_linux_packages    compilers, CMake, GoogleTest for the Linux builds
#   xb_ensure_win32_packages    the mingw-w64 cross compiler for the Windows build
#   xb_ensure_wine              Wine with its 32-bit loader, and a way to run
#                               i386 programs (see xb_ensure_i386); when the
#                               plain installation cannot be resolved, again
#                               with the distribution's own suite as target
#                               release (-t <codename from /etc/os-release>)
#   xb_ensure_fuzz_packages     clang with libFuzzer for the fuzz targets
#
# Each returns 0 when its packages are present (checked with dpkg -s; no
# network then) or were installed. On failure it returns 1 and sets
#   XB_SETUP_FAILURE        one line saying why, e.g. "wine32:i386 cannot be
#                           resolved from the package mirror (...)"
#   XB_SETUP_FAILURE_KIND   mirror  the packages could not be resolved or
#                                   downloaded from the mirror: a cause outside
#                                   the project, worth skipping what needs them
#                           local   anything else (dpkg failed, no root, apt
#                                   locked, XB_NO_INSTALL=1, ...)
#
#   xb_ensure_i386
#       Makes i386 Linux programs runnable. Some x86_64 kernels are booted with
#       32-bit emulation switched off ("Exec format error" for every -m32
#       program, Wine's 32-bit loader included). There the i386 ELF format is
#       registered with binfmt_misc to run under qemu-user, so that ctest, the
#       scripts and Wine start 32-bit programs the usual way. Sets
#       XB_I386_EMULATED=1 in that case, 0 when the kernel runs them itself.
#   xb_elf_emulated FILE
#       True when FILE is an i386 program that runs under qemu-user here.
#
# Installation is patient with a mirror in trouble: apt retries each download
# itself (Acquire::Retries), an index that fails in `apt-get update` is
# reported and the installation goes on with the indexes that did download,
# and a failed installation is tried again after a pause.
#
# Environment:
#   XB_NO_INSTALL=1        never install; report what is missing instead
#   XB_APT_ATTEMPTS        installation attempts per group (default 3)
#   XB_APT_RETRY_DELAY     seconds between attempts (default 60)
#   XB_APT_RETRIES         apt's own retries per download (default 3)

XB_LINUX_PACKAGES=(make cmake googletest g++-multilib lua5.4 libedit-dev)
XB_WIN32_PACKAGES=(make cmake googletest g++-mingw-w64-i686)
XB_WINE_PACKAGES=(wine wine32:i386 g++-multilib)   # gcc -m32 builds the i386 probe
XB_FUZZ_PACKAGES=(make cmake clang libclang-rt-14-dev)   # libFuzzer is in compiler-rt
XB_I386_EMULATED=${XB_I386_EMULATED:-}
XB_SETUP_FAILURE=
XB_SETUP_FAILURE_KIND=

xb_log() { printf '==> %s\n' "$*"; }

xb_as_root() {
  if [ "$(id -u)" = 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "not root and no sudo: cannot run $*" >&2
    return 1
  fi
}

xb_missing_packages() {
  local p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || printf '%s\n' "$p"
  done
}

xb_setup_failed() {
  XB_SETUP_FAILURE_KIND=$1
  XB_SETUP_FAILURE=$2
  echo "setup: $2" >&2
  return 1
}

# apt-get update, going on when only some index files fail: apt then keeps
# the old lists of those (or none) and the others are fresh. The indexes that
# failed, with apt's reason for the first, are kept in XB_APT_UPDATE_FAILURE
# for the report of a later failed installation.
XB_APT_UPDATE_FAILURE=
xb_apt_updated=0
xb_apt_update() {
  local log rc
  log=$(mktemp) || return 1
  xb_log "apt-get update"
  xb_as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get -q -o Acquire::Retries="${XB_APT_RETRIES:-3}" update >"$log" 2>&1
  rc=$?
  XB_APT_UPDATE_FAILURE=
  if [ "$rc" != 0 ]; then
    # "Err:5 http://host/debian-security bookworm-security/main i386 Packages"
    # followed by an indented line with the cause.
    XB_APT_UPDATE_FAILURE=$(awk '
      /^Err:/ { n++; $1 = ""; $2 = ""; sub(/^ +/, ""); if (n == 1) first = $0; else others = others ", " $0; want = (n == 1); next }
      want && /^  / { sub(/^ +/, ""); sub(/ *\[IP: [^]]*\]/, ""); cause = $0; want = 0 }
      END {
        if (n == 0) exit
        printf "%s", first
        if (cause != "") printf " (%s)", cause
        if (others != "") printf ", also%s", substr(others, 2)
      }' "$log")
    [ -n "$XB_APT_UPDATE_FAILURE" ] || XB_APT_UPDATE_FAILURE=$(grep -m1 '^E:' "$log" | cut -c4-)
    echo "apt-get update failed for some indexes; installing from the others: $XB_APT_UPDATE_FAILURE" >&2
  fi
  rm -f "$log"
  xb_apt_updated=1
  return 0
}

# Sorts a failed `apt-get install` by its output: the mirror's fault (the
# packages cannot be resolved or downloaded) or a local one.
xb_apt_classify() {
  local log=$1 packages=$2 why
  if grep -qE 'Unable to locate package|has no installation candidate|unmet dependencies|Unable to correct problems|generated breaks|is not available, but is referred to' "$log"; then
    why="$packages cannot be resolved from the package mirror"
  elif grep -qE 'Failed to fetch|Unable to fetch some archives|Hash Sum mismatch|unexpected size|Temporary failure resolving|Could not connect|Could not resolve|Connection failed|Connection timed out' "$log"; then
    why="$packages could not be downloaded from the package mirror: $(grep -m1 -E '^E: ' "$log" | cut -c4- | cut -c1-200)"
  else
    XB_SETUP_FAILURE_KIND=local
    XB_SETUP_FAILURE="apt-get install $packages failed: $(grep -m1 -E '^E: ' "$log" | cut -c4- | cut -c1-200)"
    return
  fi
  [ -n "$XB_APT_UPDATE_FAILURE" ] && why="$why; apt-get update could not fetch $XB_APT_UPDATE_FAILURE"
  XB_SETUP_FAILURE_KIND=mirror
  XB_SETUP_FAILURE=$why
}

xb_apt_install() {
  # xb_apt_install [-t suite] packages...
  local suite=() p needs_i386=0 attempt attempts delay log rc
  if [ "${1:-}" = -t ]; then suite=(-t "$2"); shift 2; fi
  if [ "${XB_NO_INSTALL:-0}" = 1 ]; then
    xb_setup_failed local "missing packages (XB_NO_INSTALL=1, not installing): $*"
    return 1
  fi
  for p in "$@"; do case $p in *:i386) needs_i386=1 ;; esac; done
  if [ "$needs_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    xb_as_root dpkg --add-architecture i386 ||
      { xb_setup_failed local "dpkg --add-architecture i386 failed"; return 1; }
    xb_apt_updated=0
  fi
  attempts=${XB_APT_ATTEMPTS:-3}
  delay=${XB_APT_RETRY_DELAY:-60}
  log=$(mktemp) || return 1
  for ((attempt = 1; ; attempt++)); do
    [ "$xb_apt_updated" = 0 ] && xb_apt_update
    xb_log "apt-get install $* (attempt $attempt of $attempts)"
    xb_as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends \
        -o Acquire::Retries="${XB_APT_RETRIES:-3}" -o DPkg::Lock::Timeout=120 \
        "${suite[@]}" "$@" 2>&1 | tee "$log" | grep -E '^(E|W): |^Need to get |^Setting up '
    rc=${PIPESTATUS[0]}
    if [ "$rc" = 0 ]; then
      rm -f "$log"
      XB_SETUP_FAILURE= XB_SETUP_FAILURE_KIND=
      return 0
    fi
    xb_apt_classify "$log" "$*"
    if [ "$XB_SETUP_FAILURE_KIND" != mirror ] || [ "$attempt" -ge "$attempts" ]; then
      break
    fi
    echo "setup: $XB_SETUP_FAILURE; trying again in $delay s" >&2
    sleep "$delay"
    xb_apt_updated=0      # the mirror may have finished its sync meanwhile
  done
  rm -f "$log"
  echo "setup: $XB_SETUP_FAILURE" >&2
  return 1
}

xb_ensure_group() {
  local what=$1 missing
  shift
  missing=$(xb_missing_packages "$@")
  [ -z "$missing" ] && return 0
  # shellcheck disable=SC2086
  xb_log "installing the packages $what needs:" $missing
  # shellcheck disable=SC2086
  xb_apt_install $missing
}

xb_ensure_linux_packages() { xb_ensure_group "the Linux builds" "${XB_LINUX_PACKAGES[@]}"; }
xb_ensure_win32_packages() { xb_ensure_group "the Windows build" "${XB_WIN32_PACKAGES[@]}"; }
xb_ensure_fuzz_packages() { xb_ensure_group "the fuzz targets" "${XB_FUZZ_PACKAGES[@]}"; }

# The distribution's codename (bookworm, trixie, ...) from /etc/os-release,
# empty when it names none. XB_OS_RELEASE names another file (for tests).
xb_os_codename() {
  (
    VERSION_CODENAME= UBUNTU_CODENAME=
    # shellcheck disable=SC1090
    . "${XB_OS_RELEASE:-/etc/os-release}" 2>/dev/null
    echo "${VERSION_CODENAME:-${UBUNTU_CODENAME:-}}"
  )
}

# Wine and what runs it: its packages, then i386 programs (its loader is one).
#
# A mirror whose i386 index of one suite (typically the security suite) is
# broken or half-synced leaves the amd64 packages of that suite newer than
# the i386 ones apt can see, and wine32:i386 then cannot be resolved. Naming
# the distribution's main suite as target release takes both architectures
# from the same suite at the same versions, which resolves. So a plain
# installation that the mirror cannot resolve or deliver is tried once more
# that way; only when that fails too is the mirror reported as the cause.
xb_ensure_wine() {
  local missing codename plain
  missing=$(xb_missing_packages "${XB_WINE_PACKAGES[@]}")
  if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    xb_log "installing the packages the Windows run (Wine) needs:" $missing
    # shellcheck disable=SC2086
    if ! XB_APT_ATTEMPTS=1 xb_apt_install $missing; then
      [ "$XB_SETUP_FAILURE_KIND" = mirror ] || return 1
      plain=$XB_SETUP_FAILURE
      codename=$(xb_os_codename)
      if [ -z "$codename" ]; then
        xb_setup_failed mirror "$plain (no codename in ${XB_OS_RELEASE:-/etc/os-release} for a target release)"
        return 1
      fi
      xb_log "the plain installation failed ($plain); trying the suite $codename as target release"
      # shellcheck disable=SC2086
      if ! xb_apt_install -t "$codename" $missing; then
        [ "$XB_SETUP_FAILURE_KIND" = mirror ] &&
          XB_SETUP_FAILURE="$XB_SETUP_FAILURE (with -t $codename; plain: $plain)"
        return 1
      fi
    fi
  fi
  xb_ensure_i386
}

# True when this machine starts i386 ELF programs (natively or through an
# existing binfmt_misc registration). Uses a probe compiled with -m32.
xb_i386_runs() {
  local dir rc
  dir=$(mktemp -d) || return 1
  printf 'int main(void) { return 42; }\n' > "$dir/probe.c"
  if ! gcc -m32 -o "$dir/probe" "$dir/probe.c" 2>"$dir/err"; then
    echo "cannot build an i386 probe program:" >&2; cat "$dir/err" >&2
    rm -rf "$dir"; return 2
  fi
  "$dir/probe" 2>/dev/null; rc=$?
  rm -rf "$dir"
  [ "$rc" = 42 ]
}

# qemu-user 8.1 or later is needed for Wine (it relies on MAP_FIXED_NOREPLACE,
# which older qemu-user treats as a mere hint); the native tests run on any.
xb_qemu_recent() {
  local v
  v=$(qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
  [ -n "$v" ] || return 1
  set -- $v
  [ "$1" -gt 8 ] || { [ "$1" = 8 ] && [ "$2" -ge 1 ]; }
}

xb_install_qemu() {
  xb_qemu_recent && return 0
  local codename
  codename=$(xb_os_codename)
  if [ "$codename" = bookworm ]; then
    # bookworm's own qemu-user is 7.2; its backports suite carries a recent one.
    local src=/etc/apt/sources.list.d/bookworm-backports.sources
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      xb_log "adding the bookworm-backports suite for a recent qemu-user"
      printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        xb_as_root tee "$src" >/dev/null ||
        { xb_setup_failed local "cannot write $src"; return 1; }
      xb_apt_updated=0
    fi
    xb_apt_install -t bookworm-backports qemu-user || return 1
  else
    xb_apt_install qemu-user || return 1
  fi
  xb_qemu_recent || echo "warning: qemu-user is older than 8.1; Wine will not start under it" >&2
  return 0
}

XB_BINFMT_NAME=xb-i386
xb_ensure_i386() {
  local rc
  xb_i386_runs; rc=$?
  if [ "$rc" = 0 ]; then
    if [ -e /proc/sys/fs/binfmt_misc/$XB_BINFMT_NAME ]; then XB_I386_EMULATED=1; else XB_I386_EMULATED=0; fi
    if [ "$XB_I386_EMULATED" = 1 ] && ! xb_qemu_recent; then xb_install_qemu || return 1; fi
    return 0
  fi
  [ "$rc" = 2 ] && { xb_setup_failed local "gcc -m32 cannot build an i386 program (g++-multilib missing?)"; return 1; }
  xb_log "this kernel does not run i386 programs; registering qemu-user for them"
  xb_install_qemu || return 1
  local qemu
  qemu=$(command -v qemu-i386) || { xb_setup_failed local "qemu-i386 not found"; return 1; }
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    xb_as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
      { xb_setup_failed local "cannot mount binfmt_misc"; return 1; }
  fi
  if [ -e /proc/sys/fs/binfmt_misc/$XB_BINFMT_NAME ]; then
    echo -1 | xb_as_root tee /proc/sys/fs/binfmt_misc/$XB_BINFMT_NAME >/dev/null
  fi
  # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
  printf '%s' ":$XB_BINFMT_NAME:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:" |
    xb_as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null ||
    { xb_setup_failed local "cannot register qemu-i386 with binfmt_misc"; return 1; }
  if ! xb_i386_runs; then
    xb_setup_failed local "i386 programs still do not run after the binfmt_misc registration"
    return 1
  fi
  XB_I386_EMULATED=1
}

# The ELF class of a program: 32 or 64 (empty when it is no ELF file).
xb_elf_bits() {
  local c
  c=$(od -An -tu1 -j4 -N1 "$1" 2>/dev/null | tr -d ' ')
  case $(head -c4 "$1" 2>/dev/null | od -An -c | tr -d ' ') in
    177ELF) ;;
    *) return 0 ;;
  esac
  case $c in 1) echo 32 ;; 2) echo 64 ;; esac
}

# True when FILE is a 32-bit program that runs under qemu-user here. Decided
# from the file, not from the preset's name, so that a preset's sanitizer
# options always match the binary it built.
xb_elf_emulated() {
  [ "$(xb_elf_bits "$1")" = 32 ] || return 1
  if [ -z "$XB_I386_EMULATED" ]; then xb_ensure_i386 || return 0; fi
  [ "$XB_I386_EMULATED" = 1 ]
}
