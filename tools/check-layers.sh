#!/usr/bin/env bash
# Checks that every folder includes only itself and the folders below it.
#
#   bash tools/check-layers.sh [ROOT]
#
# The order of the folders is the line "layers:" of docs/architecture.md
# (lowest first, names separated by "<"); a folder named with a slash
# (tools/asm) is a layer of its own inside its parent. A file belongs to the
# longest layer name its path starts with; an include names a file from the
# root, and belongs the same way (an include without a folder is the
# including file's own folder). Includes of folders that are no layer
# (system and third-party headers) are not checked.
#
# Exits 1 and prints "file:line: includes x (layer X is above layer Y)" for
# every include against the order, or a source folder that has no place in
# the order; 2 when the order cannot be read; 0 otherwise.

set -u -o pipefail
ROOT=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$ROOT" || exit 2

order=$(sed -nE 's/^ *layers: *//p' docs/architecture.md 2>/dev/null | head -1)
if [ -z "$order" ]; then
  echo "check-layers: no 'layers:' line in docs/architecture.md" >&2
  exit 2
fi
order=$(tr -d ' ' <<< "$order" | tr '<' ' ')

# Source folders with no place in the order (cmake/, docs/ hold no sources).
# In a checkout the files git knows (build trees are ignored), elsewhere all.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  sources=$(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
else
  sources=$(find . -type f \( -name '*.cpp' -o -name '*.h' \) | sed 's#^\./##')
fi
status=0
for dir in $(grep / <<< "$sources" | cut -d/ -f1 | sort -u); do
  case " $order " in *" $dir "*) continue ;; esac
  echo "$dir/: a source folder with no place in the layers of docs/architecture.md"
  status=1
done

# Every quoted include of every source file, checked in one pass.
grep -rnE --include='*.cpp' --include='*.h' --include='*.def' --include='*.inc' \
    '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' $order 2>/dev/null |
awk -v order="$order" '
  BEGIN { n = split(order, names, " "); for (i = 1; i <= n; i++) rank[names[i]] = i }
  # The layer of a path: the longest layer name it starts with ("" if none).
  function layer(path,    best, i) {
    best = ""
    for (i = 1; i <= n; i++)
      if (index(path, names[i] "/") == 1 && length(names[i]) > length(best)) best = names[i]
    return best
  }
  {
    file = $0; sub(/:.*/, "", file)
    rest = substr($0, length(file) + 2)
    line = rest; sub(/:.*/, "", line)
    inc = rest; sub(/^[^"]*"/, "", inc); sub(/".*/, "", inc)
    from = layer(file)
    to = (index(inc, "/") == 0) ? from : layer(inc)
    if (to == "" || from == "") next
    if (rank[to] > rank[from]) {
      printf "%s:%s: includes %s (layer %s is above layer %s)\n", file, line, inc, to, from
      bad = 1
    }
  }
  END { exit bad }
' || status=1
exit $status
