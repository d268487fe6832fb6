#!/usr/bin/env bash
# Check by hand that a game started from a terminal under Wine counts as running from its
# game directory (Wine's first start in a new prefix takes a while, and Wine is too heavy for
# CI): a stand-in thief2.exe built with mingw-w64 sleeps in a temporary game directory and is
# started there as `wine thief2.exe`, `wine .\thief2.exe`, `wine ./thief2.exe`,
# `wine THIEF2.EXE` and by its Z: path from another folder. Each time running_game_test must
# find the Wine process in that directory. What /proc shows of the process is printed.
#   bench/wine_running_check.sh [build folder, default build/asan]
# The prefix is kept in <build>/wine-check/prefix for the next run (the one
# bench/wine_play_check.sh uses).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/asan}" && pwd)
for tool in wine wineserver x86_64-w64-mingw32-gcc; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 0; }
done
cmake --build "$build" --target running_game_test >/dev/null

work=$build/wine-check
export WINEPREFIX=$work/prefix WINEDEBUG=-all
mkdir -p "$work"
game=$(mktemp -d)
pid=
finish() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
    wineserver -w || true
    rm -rf "$game"
}
trap finish EXIT

cat > "$work/sleeper.c" <<'C'
#include <windows.h>
int main(void) {
    Sleep(60000);
    return 0;
}
C
x86_64-w64-mingw32-gcc -O2 -o "$game/thief2.exe" "$work/sleeper.c"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    display=()
    if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then display=(xvfb-run -a); fi
    echo "Creating the Wine prefix $WINEPREFIX (takes a while the first time)..."
    "${display[@]}" wineboot -i >/dev/null 2>&1
    wineserver -w
fi

# Starts Wine with `name` from `folder`, waits until Wine has put the Windows command line in
# place of its own, shows the process and asks the check for the game directory.
check() {
    local folder=$1 name=$2 words
    (cd "$folder" && exec wine "$name" >/dev/null 2>&1) &
    pid=$!
    for _ in $(seq 300); do
        words=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1)
        [ "$words" = "$name" ] && break
        sleep 0.1
    done
    echo "wine $name (from $folder): pid $pid"
    echo "  exe     $(readlink "/proc/$pid/exe")"
    echo "  cwd     $(readlink "/proc/$pid/cwd")"
    echo "  cmdline $(tr '\0' ' ' <"/proc/$pid/cmdline" | sed 's/ *$//')"
    local found
    found=$(TM_RUNNING_CHECK_DIR=$game "$build/bin/running_game_test" \
        --gtest_filter='*ByHandCheck' 2>&1 | grep -E '^[0-9]+ ' || true)
    if grep -q "^$pid " <<<"$found"; then
        echo "  found:  $(grep "^$pid " <<<"$found")"
    else
        echo "  NOT FOUND (found: ${found:-nothing})"
        exit 1
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
}

check "$game" thief2.exe
check "$game" '.\thief2.exe'
check "$game" ./thief2.exe
check "$game" THIEF2.EXE
check / "Z:${game//\//\\}\\thief2.exe"
echo "Wine started from the game directory counts as running."
