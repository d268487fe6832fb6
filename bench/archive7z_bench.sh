#!/usr/bin/env bash
# .7z missions against 7-Zip in the same run (not part of CI):
#   extraction of the solid big.7z (the 250 MB tree packed with `7zz a -mx5`) into tmpfs,
#     against `7zz x` (goal: at most 1.2);
#   first selection until the panel is filled, against `7zz e` of the same members (goal:
#     at most 1.5); a later selection (goal: under 20 ms);
#   the mission test of a first scan of 2,000 small .7z missions, against a loop of
#     `7zz l` (goal: at most 0.05); the second scan.
#   bench/archive7z_bench.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build directory}" && pwd)
corpus=${TM_BENCH_DIR:-/tmp/tm-bench}
bench="$build/bin/archive7z_bench"
tmp=$(mktemp -d /dev/shm/tm-7z.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

now() { date +%s.%N; }
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / float(sys.argv[2]):.3f}')" "$1" "$2"; }

# The archives, made once beside the corpus.
if [ ! -f "$corpus/big.7z" ]; then
    (cd "$corpus/big" && 7zz a -bd -mx5 -ms=on "$corpus/big.7z" . >/dev/null)
fi
if [ ! -d "$corpus/small7z" ]; then
    mkdir -p "$corpus/small7z"
    for z in "$corpus"/small/*.zip; do
        d="$tmp/unpack"; rm -rf "$d"; mkdir -p "$d"
        unzip -qo "$z" -d "$d"
        (cd "$d" && 7zz a -bd -mx5 "$corpus/small7z/$(basename "${z%.zip}").7z" . >/dev/null)
    done
fi

echo "-- extraction of big.7z"
start=$(now); 7zz x -bd -y "-o$tmp/7zz" "$corpus/big.7z" >/dev/null; end=$(now)
ref=$(python3 -c "print(($end - $start) * 1000)")
rm -rf "$tmp/7zz"; mkdir -p "$tmp/ours"
ours=$("$bench" extract "$corpus/big.7z" "$tmp/ours" | tee /dev/stderr | sed -n 's/^extract \([0-9.]*\) ms.*/\1/p')
[ -f "$root/../shared/bench/tree_digest.sh" ] && [ -f "$corpus/big.tree.md5" ] &&
    { [ "$(bash "$root/../shared/bench/tree_digest.sh" "$tmp/ours")" = "$(cat "$corpus/big.tree.md5")" ] &&
      echo "tree digest matches" || echo "TREE DIGEST DIFFERS"; }
echo "7zz x ${ref} ms; ratio $(ratio "$ours" "$ref") (goal <= 1.2)"
rm -rf "$tmp/ours"

echo "-- first and later selection of big.7z"
out=$("$bench" select "$corpus/big.7z"); echo "$out" | grep -v '^read '
first=$(echo "$out" | sed -n 's/^select-first \([0-9.]*\) ms.*/\1/p')
# The members the first selection read (the later one reads none).
members=$(echo "$out" | sed -n 's/^read //p' | sort -u)
echo "members read: $(echo "$members" | tr '\n' ' ')"
start=$(now)
mapfile -t wanted <<<"$members"
(cd "$tmp" && 7zz e -bd -y "$corpus/big.7z" "${wanted[@]}" >/dev/null)
end=$(now)
ref=$(python3 -c "print(($end - $start) * 1000)")
echo "7zz e of the same members ${ref} ms; ratio $(ratio "$first" "$ref") (goal <= 1.5)"

echo "-- mission test of 2,000 small .7z"
start=$(now); for a in "$corpus"/small7z/*.7z; do 7zz l "$a" >/dev/null; done; end=$(now)
ref=$(python3 -c "print(($end - $start) * 1000)")
out=$("$bench" scan "$corpus/small7z"); echo "$out"
first=$(echo "$out" | sed -n 's/^scan-first \([0-9.]*\) ms.*/\1/p')
echo "7zz l loop ${ref} ms; ratio $(ratio "$first" "$ref") (goal <= 0.05)"
