#!/bin/sh
# Regenerates the compiled modules (modules/std_*.cpp, modules/app_main.h)
# from their assembler sources with the runner's emitter.
#   tools/genmodules.sh [path/to/xbrun]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
xbrun=${1:-$root/build/native/xbrun}
cd "$root"
"$xbrun" --emit-module appMain --header modules/app_main.xbasm > modules/app_main.h
for name in clipinit errorsys rddsys dbfntx ntxerr dbfonly; do
  id=std$(printf '%s' "$name" | cut -c1 | tr a-z A-Z)$(printf '%s' "$name" | cut -c2-)
  "$xbrun" --emit-module "$id" "modules/std_$name.xbasm" > "modules/std_$name.cpp"
done
