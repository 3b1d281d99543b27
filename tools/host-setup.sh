# Host preparation shared by tools/run-tests.sh and tools/run-main.sh (sourced).
#
#   xb_ensure_packages [extra packages...]
#       Installs the build and test packages that are missing (checked with
#       dpkg -s); does nothing, and needs no network, when all are present.
#   xb_ensure_i386
#       Makes i386 Linux programs runnable. Some x86_64 kernels are booted with
#       32-bit emulation switched off ("Exec format error" for every -m32
#       program, Wine's 32-bit loader included). There the i386 ELF format is
#       registered with binfmt_misc to run under qemu-user, so that ctest, the
#       scripts and Wine start 32-bit programs the usual way. Sets
#       XB_I386_EMULATED=1 in that case, 0 when the kernel runs them itself.
#
# XB_NO_INSTALL=1 skips every installation (report what is missing instead).

XB_PACKAGES=(cmake googletest g++-multilib g++-mingw-w64-i686 wine wine32:i386 lua5.4)
XB_I386_EMULATED=${XB_I386_EMULATED:-}

xb_log() { printf '==> %s\n' "$*"; }

xb_as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

xb_missing_packages() {
  local p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || printf '%s\n' "$p"
  done
}

xb_apt_updated=0
xb_apt_install() {
  # xb_apt_install [-t suite] packages...
  if [ "${XB_NO_INSTALL:-0}" = 1 ]; then
    echo "missing packages (XB_NO_INSTALL=1, not installing): $*" >&2
    return 1
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    xb_as_root dpkg --add-architecture i386 || return 1
    xb_apt_updated=0
  fi
  if [ "$xb_apt_updated" = 0 ]; then
    xb_as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
    xb_apt_updated=1
  fi
  xb_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

xb_ensure_packages() {
  local missing
  missing=$(xb_missing_packages "${XB_PACKAGES[@]}" "$@")
  [ -z "$missing" ] && return 0
  xb_log "installing missing packages:" $missing
  # shellcheck disable=SC2086
  xb_apt_install $missing
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
  codename=$(. /etc/os-release 2>/dev/null; echo "${VERSION_CODENAME:-}")
  if [ "$codename" = bookworm ]; then
    # bookworm's own qemu-user is 7.2; its backports suite carries a recent one.
    local src=/etc/apt/sources.list.d/bookworm-backports.sources
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      xb_log "adding the bookworm-backports suite for a recent qemu-user"
      printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        xb_as_root tee "$src" >/dev/null || return 1
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
  [ "$rc" = 2 ] && return 1
  xb_log "this kernel does not run i386 programs; registering qemu-user for them"
  xb_install_qemu || return 1
  local qemu
  qemu=$(command -v qemu-i386) || { echo "qemu-i386 not found" >&2; return 1; }
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    xb_as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  fi
  if [ -e /proc/sys/fs/binfmt_misc/$XB_BINFMT_NAME ]; then
    echo -1 | xb_as_root tee /proc/sys/fs/binfmt_misc/$XB_BINFMT_NAME >/dev/null
  fi
  # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
  printf '%s' ":$XB_BINFMT_NAME:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:" |
    xb_as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null || return 1
  if ! xb_i386_runs; then
    echo "i386 programs still do not run after the binfmt_misc registration" >&2
    return 1
  fi
  XB_I386_EMULATED=1
}
