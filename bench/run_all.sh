#!/usr/bin/env bash
# Runs every benchmark against one Release build configured with TM_BUILD_BENCH=ON
# (./tm bench builds it as build/bench). Not part of CI.
#   bench/run_all.sh BUILD_DIR [NAME...]   (names: settings checksum list engine scan grid fs 7z play folders)
# The corpus comes from ../shared/bench/make_corpus.py (into $TM_BENCH_DIR, default
# /tmp/tm-bench), made on first use.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build directory}" && pwd)
shift
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(settings checksum list engine scan grid fs 7z play folders)
export TM_BENCH_DIR=${TM_BENCH_DIR:-/tmp/tm-bench}
if [ ! -f "$TM_BENCH_DIR/big.zip" ] && [ -f "$root/../shared/bench/make_corpus.py" ]; then
    echo "== making the benchmark corpus in $TM_BENCH_DIR"
    python3 "$root/../shared/bench/make_corpus.py"
fi
status=0
for n in "${names[@]}"; do
    echo "== $n"
    case $n in
        settings) "$build/bin/settings_bench" ;;
        checksum) "$root/bench/checksum_bench.sh" "$build" ;;
        list) "$root/bench/list_bench.sh" "$build" ;;
        engine) "$root/bench/engine_bench.sh" "$build" ;;
        play) "$root/bench/play_bench.sh" "$build" ;;
        folders) "$root/bench/folder_bench.sh" "$build" ;;
        scan) "$root/bench/scan_bench.sh" "$build" ;;
        grid) "$build/bin/grid_bench" ;;
        fs) "$build/bin/fs_resolve_bench" ;;
        7z) "$root/bench/archive7z_bench.sh" "$build" ;;
        *) echo "unknown benchmark $n" >&2; false ;;
    esac || status=1
done
exit $status
