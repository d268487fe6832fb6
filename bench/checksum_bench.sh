#!/usr/bin/env bash
# Checksum throughput on a 500 MB file held in the page cache, beside `cat FILE > /dev/null`
# measured in the same run. Goal: at least 60% of cat's throughput.
#
# Usage: bench/checksum_bench.sh [BUILD_DIR]   (default build/settings-bench; configure it with
#        -DTM_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release and build the checksum_bench target)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/settings-bench}
driver=$build/bin/checksum_bench
[ -x "$driver" ] || { echo "missing $driver (build target checksum_bench)" >&2; exit 1; }

work=$(mktemp -d /tmp/checksum_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
file=$work/big.bin
size_mb=500
head -c $((size_mb * 1000 * 1000)) /dev/urandom > "$file"
cat "$file" > /dev/null  # into the page cache

# Best of five for cat.
best_cat=0
for _ in 1 2 3 4 5; do
    start=$(date +%s.%N)
    cat "$file" > /dev/null
    end=$(date +%s.%N)
    rate=$(echo "$size_mb / ($end - $start)" | bc -l)
    if (( $(echo "$rate > $best_cat" | bc -l) )); then best_cat=$rate; fi
done

read -r best_sum text < <("$driver" "$file" 5)

expected=$(python3 -c "import zlib,sys; print('\$%08x' % zlib.crc32(open(sys.argv[1],'rb').read()))" "$file" 2>/dev/null || echo "?")

printf 'file: %d MB in the page cache\n' "$size_mb"
printf 'cat > /dev/null : %8.1f MB/s\n' "$best_cat"
printf 'ChecksumText    : %8.1f MB/s  (%s, python zlib: %s)\n' "$best_sum" "$text" "$expected"
ratio=$(echo "$best_sum / $best_cat * 100" | bc -l)
printf 'ratio           : %8.1f %% of cat (goal: at least 60%%)\n' "$ratio"
