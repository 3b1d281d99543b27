#!/usr/bin/env bash
# The layer check (tools/check-layers.sh) on small trees made here, then on
# the source tree itself.
#
#   bash tests/check_layers_test.sh SOURCE_DIR
#
# Prints one line per failed expectation and exits 1 when any failed.

set -u -o pipefail
SRC=${1:-$(cd "$(dirname "$0")/.." && pwd)}
CHECK="$SRC/tools/check-layers.sh"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# file PATH [INCLUDE...]: a source file including the given headers.
file() {
  local path=$1; shift
  mkdir -p "$(dirname "$path")"
  : > "$path"
  for inc in "$@"; do printf '#include "%s"\n' "$inc" >> "$path"; done
}

# expect CODE EXPECTED-OUTPUT: runs the check on the tree in the current folder.
expect() {
  local want_rc=$1 want_out=$2 out rc
  out=$(bash "$CHECK" "$PWD" 2>&1 | sort)
  rc=${PIPESTATUS[0]}
  [ "$rc" = "$want_rc" ] || fail "$CASE: exit $rc, expected $want_rc (output: $out)"
  [ "$out" = "$(sort <<< "$want_out")" ] || fail "$CASE: output
$out
expected
$want_out"
}

mkdir "$work/t" && cd "$work/t" || exit 1
mkdir docs
echo "    layers: low < mid < mid/sub < top" > docs/architecture.md

CASE="includes downwards and within a folder"
file low/a.h
file low/a.cpp low/a.h "a.h" "gtest/gtest.h"
file mid/b.h low/a.h
file mid/b.cpp mid/b.h low/a.h
file mid/sub/c.cpp mid/b.h mid/sub/c.h low/a.h
file top/d.cpp mid/sub/c.h mid/b.h low/a.h top/d.h
printf '  #  include "low/a.h"\n' >> top/d.cpp
expect 0 ""

CASE="an include upwards, one into a sublayer, one with spaces"
file low/up.cpp low/a.h mid/b.h
file mid/into_sub.h mid/sub/c.h
printf '\n  #  include "top/d.h"\n' >> mid/b.cpp
expect 1 "low/up.cpp:2: includes mid/b.h (layer mid is above layer low)
mid/into_sub.h:1: includes mid/sub/c.h (layer mid/sub is above layer mid)
mid/b.cpp:4: includes top/d.h (layer top is above layer mid)"

CASE="definition lists and include files are checked too"
rm low/up.cpp mid/into_sub.h
file mid/b.cpp mid/b.h
file low/list.def top/d.h
expect 1 "low/list.def:1: includes top/d.h (layer top is above layer low)"

CASE="a source folder with no place in the order"
rm low/list.def
file extra/e.cpp low/a.h
expect 1 "extra/: a source folder with no place in the layers of docs/architecture.md"

CASE="folders without sources need no place"
rm -r extra
mkdir -p notes && echo text > notes/readme.txt
expect 0 ""

CASE="no order to check against"
echo "no layers here" > docs/architecture.md
expect 2 "check-layers: no 'layers:' line in docs/architecture.md"

CASE="the source tree keeps its layers"
cd "$SRC" || exit 1
expect 0 ""

[ "$failures" = 0 ] && echo "check-layers: all cases passed"
[ "$failures" = 0 ]
