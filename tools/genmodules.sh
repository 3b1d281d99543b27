#!/bin/sh
# Regenerates the compiled modules (modules/std_*.cpp, modules/app_main.h)
# from their sources (modules/*.prg, compiled by the source compiler) with
# the runner's emitter. The modules' assembler texts (modules/*.xbasm) stay
# as the reference the compiler is checked against (the golden test).
#   tools/genmodules.sh [path/to/xbrun]
# The output is the same from every build (the image form of a table entry is
# written as XB_IMAGE_FUNCTION, which each target expands); by default the
# x86_64 build's runner is used, else the i386 one.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
xbrun=${1:-}
if [ -z "$xbrun" ]; then
  xbrun=$root/build/native64/xbrun
  [ -x "$xbrun" ] || xbrun=$root/build/native/xbrun
fi
cd "$root"
"$xbrun" --emit-module appMain --header modules/app_main.prg > modules/app_main.h
for name in clipinit errorsys rddsys dbfntx ntxerr dbfonly; do
  id=std$(printf '%s' "$name" | cut -c1 | tr a-z A-Z)$(printf '%s' "$name" | cut -c2-)
  "$xbrun" --emit-module "$id" "modules/std_$name.prg" > "modules/std_$name.cpp"
done
# The module the sample external-call library carries (tools/extlib).
"$xbrun" --emit-module libSample modules/lib_sample.xbasm > modules/lib_sample.cpp
