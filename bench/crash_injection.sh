#!/usr/bin/env bash
# Crash injection over every step: install, uninstall and the return to the original game
# are killed at each file-system step they reach (one step after another). From the folders
# each crash left, a fresh process starts up (finishing or undoing what was interrupted) and
# plays the mission installed before the operation; from the same folders again, another one
# plays the mission the operation was installing. Both times the game directory must hold
# exactly that mission as its archive has it (every member with its bytes, the language
# folder left out, the MP3 track as WAV, no file of another mission, the game files it does
# not replace untouched, the marker and the backup saying so) with its own saved games in
# SAVES. Then the scenario plays on to the original game, and the test checks every original
# game file byte for byte, every saved game of every mission in its own place exactly once,
# and that nothing of the program's is left half-written. Prints how many points were tried
# and how many lost anything (goal: 0), once for ZIP missions and once with a solid .7z
# mission.
# Then the same for missions in folders of their own (folder_crash_test): a NewDark game
# directory gets mission A (with an MP3 track) and B installed, A removed and installed
# again, each operation killed at every step; after the start-up that clears up, no folder
# that counts as installed may lack anything, no half-done folder of the program's may be
# left, every saved game and screenshot must be in its mission folder or its saves archive
# exactly once, the game's own files untouched, and the scenario must end right.
# CI runs a sample of the points (install_crash_test, folder_crash_test).
# TALLOWMERE_CRASH_STRIDE=N in the environment tries every N-th step instead of all.
#
# Usage: bench/crash_injection.sh [BUILD_DIR]   (default build/asan; builds install_crash_test,
#        folder_crash_test, the engines and the sound plug-in there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/asan}
cmake --build "$build" -j2 --target install_crash_test folder_crash_test ZIPENG.DLL UNZENG.DLL \
    mp3dec >/dev/null
export QT_QPA_PLATFORM=offscreen TALLOWMERE_CRASH_STRIDE=${TALLOWMERE_CRASH_STRIDE:-1}
log=$(mktemp /tmp/crash_injection.XXXXXX)
trap 'rm -f "$log"' EXIT
status=0
for test in install_crash_test folder_crash_test; do
    echo "$test:"
    "$build/bin/$test" --gtest_brief=1 >"$log" 2>&1 || status=$?
    grep -E -A12 "^operation [0-9]+, step [0-9]+:" "$log" | grep -E "^(operation|  )" || true
    grep "crash points tried" "$log" || { cat "$log"; exit 1; }
done
exit $status
