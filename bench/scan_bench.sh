#!/bin/bash
# Catalogue scan and selection speed, with the main window offscreen.
#   bench/scan_bench.sh [BUILD_DIR] [CORPUS_DIR]
#     BUILD_DIR: a Release build with TM_BUILD_BENCH=ON (default build/scanbench; configured
#                and its targets built when missing)
#     CORPUS_DIR: the mission archives (default /tmp/tm-bench/missions, made by
#                 bench/make_missions.py when missing)
# Goals: first full scan of 2,000 archives under 1.5 s (beside an `unzip -Z1` loop over
# them), second full scan under 0.25 s, each column sort under 20 ms, the game decision of a
# 20 MB mission file under 60 ms; first selection of a 3,000-member archive with a 20 MB
# mission file under 100 ms, a later selection of it under 20 ms.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=${1:-$ROOT/build/scanbench}
CORPUS=${2:-${TM_BENCH_DIR:-/tmp/tm-bench}/missions}
RUNS=${RUNS:-3}

if [ ! -f "$BUILD/build.ninja" ] && [ ! -f "$BUILD/Makefile" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTM_BUILD_BENCH=ON \
        -DTM_BUILD_TESTS=OFF >/dev/null
fi
log=$(mktemp)
cmake --build "$BUILD" --target scan_bench select_bench zipeng unzeng -j2 >"$log" 2>&1 ||
    { cat "$log"; rm -f "$log"; exit 1; }
rm -f "$log"

[ -f "$CORPUS/.complete" ] || python3 "$HERE/make_missions.py" "$CORPUS"
# Archives in the page cache, as after the corpus was made or once listed.
cat "$CORPUS"/one/* "$CORPUS"/two/* "$CORPUS"/select/* >/dev/null

export QT_QPA_PLATFORM=offscreen
status=0
echo "### scan_bench ($RUNS runs)"
"$BUILD/bin/scan_bench" "$CORPUS" "$RUNS" 2>/dev/null || status=1
echo
echo "### select_bench ($((RUNS + 2)) runs)"
"$BUILD/bin/select_bench" "$CORPUS" "$((RUNS + 2))" 2>/dev/null || status=1
exit $status
