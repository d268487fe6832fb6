#!/usr/bin/env bash
# Planted faults: which modes and points of the crash tests catch each fault kept in
# bench/planted/*.patch (a small change of the program that loses data, with a "Tests:" line
# naming the crash tests to run). For the tree without any fault first, then for each fault
# applied alone, a scratch git worktree of HEAD is built (Release with the tests: the faults are
# about what lands on the disk, and an optimised build runs the thousands of points in
# minutes) and the named tests run at every point of every mode
# (TALLOWMERE_CRASH_STRIDE=1 unless set; see bench/crash_injection.sh). Prints per fault,
# test and mode every point that reported a loss (operation, step, the call there, what was
# lost), marked "new" when the tree without the fault shows no loss like it in that
# operation; a fault counts as caught when some point is new. The logs stay in $OUT.
#
# Usage: bench/planted_faults.sh [FAULT...]   (names of bench/planted/*.patch without
#        ".patch"; default all). WORKTREE (default: the checkout's path + "-planted") holds
#        the scratch tree and its build folder, kept for the next run (ccache makes the
#        rebuilds short); OUT (default /tmp/tallowmere-planted-logs) the logs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
wt=${WORKTREE:-$top-planted}
out=${OUT:-/tmp/tallowmere-planted-logs}
export QT_QPA_PLATFORM=offscreen TALLOWMERE_CRASH_STRIDE=${TALLOWMERE_CRASH_STRIDE:-1}
cd "$top"
faults=("$@")
if [ ${#faults[@]} -eq 0 ]; then
    for p in bench/planted/*.patch; do faults+=("$(basename "$p" .patch)"); done
fi
testsOf() { sed -n 's/^Tests: *//p' "bench/planted/$1.patch" | head -1; }

if [ -d "$wt" ]; then
    git -C "$wt" checkout -q --detach "$(git rev-parse HEAD)"
    git -C "$wt" reset -q --hard
else
    git worktree add -q --detach "$wt" HEAD
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$wt" -B "$wt/build" -G Ninja -DTM_WERROR=OFF -DCMAKE_BUILD_TYPE=Release -DTM_SANITIZE=OFF \
    -DTM_BUILD_TESTS=ON "${launcher[@]}" >/dev/null
mkdir -p "$out"

# Builds and runs the tests in the tree as it is now; logs to $out/<label>-<test>.log.
run() {  # label, tests...
    local label=$1; shift
    if ! cmake --build "$wt/build" -j2 --target "$@" ZIPENG.DLL UNZENG.DLL mp3dec \
        >"$out/$label-build.log" 2>&1; then
        echo "  does not build:"
        grep -m5 "error" "$out/$label-build.log" | sed 's/^/    /'
        return 1
    fi
    for t in "$@"; do
        "$wt/build/bin/$t" >"$out/$label-$t.log" 2>&1 || true
    done
}

# Every point of a log that reported a loss, one line each:
# "test case|operation K|mode step N (call)|loss; loss; ..." (temporary names made alike).
points() {  # log
    awk 'function flush() { if (point != "") print name "|" point "|" losses; point = "" }
         /^\[ RUN/ { flush(); name = $NF; sub(/.*\//, "", name) }
         /^operation [0-9]+, .* step [0-9]+ / {
             flush(); point = $0; sub(/:$/, "", point); sub(/, /, "|", point); losses = ""; next }
         point != "" && /^  / { sub(/^  /, ""); losses = losses (losses == "" ? "" : "; ") $0; next }
         { flush() }
         END { flush() }' "$1" | sed 's/\.tm[0-9a-f]\{12\}\(\.tmp\|\.part\)/.tmX\1/g'
}
tried() {  # log: "test case: N points tried"
    awk '/^\[ RUN/ { name = $NF; sub(/.*\//, "", name) }
         / points tried: / { sub(/,.*/, ""); sub(/.* tried: /, ""); print name ": " $0 " tried" }' "$1"
}

all_tests=$(for f in "${faults[@]}"; do testsOf "$f"; done | tr ' ' '\n' | sort -u | tr '\n' ' ')
echo "== without a planted fault ($all_tests)"
# shellcheck disable=SC2086
run clean $all_tests || exit 1
for t in $all_tests; do
    tried "$out/clean-$t.log" | sed "s/^/  $t /"
    points "$out/clean-$t.log" | while IFS='|' read -r case operation point losses; do
        echo "  $t $case $operation, $point: $losses"
    done
done

for f in "${faults[@]}"; do
    tests=$(testsOf "$f")
    echo "== $f ($tests)"
    git -C "$wt" reset -q --hard
    if ! git -C "$wt" apply "$top/bench/planted/$f.patch"; then
        echo "  does not apply to HEAD"
        continue
    fi
    # shellcheck disable=SC2086
    run "$f" $tests || continue
    caught=0
    for t in $tests; do
        for mode in Killed PowerCut WriteFails; do
            mine=$(points "$out/$f-$t.log" | grep "Zip$mode|\|^$mode|" || true)
            [ -n "$mine" ] || continue
            # A loss is new when the tree without the fault shows none like it in that
            # operation: the fault may move the step numbers, and the engines' threads may
            # take their turns in another order (numbers in names do not count).
            clean=$(points "$out/clean-$t.log" | grep "Zip$mode|\|^$mode|" |
                awk -F'|' '{ l = $4; gsub(/[0-9]/, "#", l); print $1 "|" $2 "|" l }' || true)
            while IFS='|' read -r case operation point losses; do
                if grep -qxF "$case|$operation|${losses//[0-9]/#}" <<<"$clean"; then
                    new="   "
                else
                    new=new
                    caught=$((caught + 1))
                fi
                echo "  $t $case $new $operation, $point: $losses"
            done <<<"$mine"
        done
        tried "$out/$f-$t.log" | sed "s/^/  $t /"
    done
    echo "  => $([ $caught -gt 0 ] && echo "caught at $caught new points" || echo "NOT caught")"
    git -C "$wt" reset -q --hard
done
