#!/usr/bin/env bash
# Prints the folders of src/ that include each other: one line "from -> to (count)" per
# pair of folders (a folder's ui/ counted with the folder), then every pair that includes
# each other both ways. Run from the top of the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
grep -rE '^#include "[a-z]+/' src --include=*.h --include=*.cpp |
    sed -E 's#^src/([a-z]+)/[^:]*:\#include "([a-z]+)/.*#\1 \2#' |
    awk '$1 != $2' | sort | uniq -c | awk '{print $2 " -> " $3 " (" $1 ")"}' > /tmp/tm-include-graph.$$
cat /tmp/tm-include-graph.$$
echo "both ways:"
awk '{print $1, $3}' /tmp/tm-include-graph.$$ | while read -r a b; do
    grep -q "^$b -> $a " /tmp/tm-include-graph.$$ && [[ "$a" < "$b" ]] && echo "  $a <-> $b"
done || true
rm -f /tmp/tm-include-graph.$$
