#!/usr/bin/env bash
# The Wine installation of tools/host-setup.sh against a stand-in package
# manager: fake apt-get and dpkg programs first on PATH answer the way a
# mirror in a given state would, and record each installation they were
# asked for. Checks which commands the set-up runs and what it reports.
#
#   bash tests/scripts/host_setup_test.sh      exit 0 when every case passes
#
# Mirror states (FAKE_MIRROR):
#   half-synced  the plain install cannot resolve wine32:i386 (unmet
#                dependencies); with the distribution's suite as target
#                release it installs
#   healthy      the plain install works
#   dead         nothing can be fetched, with or without a target release
#   local        dpkg fails (a local fault: no second try)
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0

mkdir -p "$WORK/bin"
cat > "$WORK/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
# Records its arguments; answers as FAKE_MIRROR says.
echo "apt-get $*" >> "$FAKE_LOG"
case " $* " in *" update "*) echo "Hit:1 http://deb.example/debian bookworm InRelease"; exit 0 ;; esac
target=
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  [ "${args[$i]}" = -t ] && target=${args[$((i + 1))]}
done
pkgs=()
for a in "$@"; do case $a in -*|install|*=*) ;; *) [ "$a" = "$target" ] || pkgs+=("$a") ;; esac; done
ok() { for p in "${pkgs[@]}"; do echo "$p" >> "$FAKE_INSTALLED"; echo "Setting up $p ..."; done; exit 0; }
case $FAKE_MIRROR in
  healthy) ok ;;
  half-synced)
    [ "$target" = "$FAKE_EXPECT_TARGET" ] && ok
    echo "The following packages have unmet dependencies:"
    echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
  dead)
    echo "E: Failed to fetch http://deb.example/debian/pool/main/w/wine/wine_8.0.deb  Could not connect to deb.example:80"
    exit 100 ;;
  local)
    echo "E: dpkg was interrupted, you must manually run 'dpkg --configure -a' to correct the problem."
    exit 100 ;;
esac
exit 100
EOF
cat > "$WORK/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case $1 in
  -s) grep -qxF "$2" "$FAKE_INSTALLED" 2>/dev/null ;;
  --print-foreign-architectures) echo i386 ;;
  --add-architecture) exit 0 ;;
  *) exit 1 ;;
esac
EOF
chmod +x "$WORK/bin/apt-get" "$WORK/bin/dpkg"
printf 'NAME="Test"\nVERSION_CODENAME=testcode\n' > "$WORK/os-release"
printf 'NAME="Test"\n' > "$WORK/os-release-none"

check() {  # check NAME CONDITION-DESCRIPTION COMMAND...
  local name=$1 what=$2
  shift 2
  if "$@"; then echo "ok   $name: $what"; else echo "FAIL $name: $what"; failures=$((failures + 1)); fi
}

# Runs xb_ensure_wine in a subshell with the fakes; leaves its return code,
# failure kind and reason in $WORK/result and apt-get's calls in $FAKE_LOG.
run_case() {
  local mirror=$1 osrel=$2
  export FAKE_MIRROR=$mirror FAKE_LOG=$WORK/apt.log FAKE_INSTALLED=$WORK/installed FAKE_EXPECT_TARGET=testcode
  : > "$FAKE_LOG"; : > "$FAKE_INSTALLED"
  (
    export PATH="$WORK/bin:$PATH" XB_OS_RELEASE=$osrel XB_APT_ATTEMPTS=2 XB_APT_RETRY_DELAY=0
    # shellcheck disable=SC1091
    source "$ROOT/tools/host-setup.sh"
    xb_as_root() { "$@"; }
    xb_ensure_i386() { return 0; }   # the machine's own i386 support is not under test
    xb_ensure_wine
    printf '%s\n%s\n%s\n' "$?" "$XB_SETUP_FAILURE_KIND" "$XB_SETUP_FAILURE" > "$WORK/result"
  ) > "$WORK/out" 2>&1
  { read -r rc; read -r kind; read -r reason; } < "$WORK/result"
}
installs() { grep -c ' install ' "$FAKE_LOG"; }
installs_with_target() { grep -c " install .* -t $1 " "$FAKE_LOG"; }

run_case half-synced "$WORK/os-release"
check half-synced "succeeds" test "$rc" = 0
check half-synced "one plain install, then one with the codename" test "$(installs)/$(installs_with_target testcode)" = 2/1
check half-synced "the plain one came first" bash -c "grep ' install ' '$FAKE_LOG' | head -1 | grep -vq -- ' -t '"
check half-synced "wine32:i386 installed" grep -qx 'wine32:i386' "$FAKE_INSTALLED"
check half-synced "says why it tries again" grep -q 'trying the suite testcode as target release' "$WORK/out"

run_case healthy "$WORK/os-release"
check healthy "succeeds with the plain install alone" test "$rc/$(installs)/$(installs_with_target testcode)" = 0/1/0

run_case dead "$WORK/os-release"
check dead "fails" test "$rc" = 1
check dead "as the mirror's fault (the SKIPPED path)" test "$kind" = mirror
check dead "retried with the codename, XB_APT_ATTEMPTS times" test "$(installs)/$(installs_with_target testcode)" = 3/2
check dead "reason names both tries" bash -c "grep -q -- '-t testcode' <<< \"$reason\" && grep -q 'plain:' <<< \"$reason\""

run_case local "$WORK/os-release"
check local "fails as a local fault" test "$rc/$kind" = 1/local
check local "without a second try" test "$(installs)" = 1

run_case half-synced "$WORK/os-release-none"
check no-codename "fails as the mirror's fault" test "$rc/$kind" = 1/mirror
check no-codename "says there is no codename" bash -c "grep -q 'no codename' <<< \"$reason\""

# The real package manager, simulating only (-s: no root, no download): with
# the distribution's own suite as target release, Wine resolves from the
# indexes this machine has.
codename=$(source "$ROOT/tools/host-setup.sh"; xb_os_codename)
if [ -n "$codename" ] && command -v apt-get >/dev/null && [ -e /var/lib/apt/lists ] &&
   dpkg --print-foreign-architectures 2>/dev/null | grep -qx i386; then
  check simulation "apt-get install -s -t $codename wine wine32:i386 resolves" \
    bash -c "apt-get install -s -t '$codename' wine wine32:i386 >/dev/null 2>&1"
else
  echo "skip simulation: no codename, apt-get or i386 architecture here"
fi

if [ "$failures" = 0 ]; then echo "host_setup_test: all passed"; else echo "host_setup_test: $failures failed"; fi
[ "$failures" = 0 ]
