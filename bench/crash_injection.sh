#!/usr/bin/env bash
# Crash injection over every step, three ways (tests/powercut/PowerCut.h): the process is
# killed (SIGKILL) before each change of a file or folder, inside the engines as well (every
# write, rename, unlink, mkdir, ... and every crash point of the program's own); the power is
# cut after each sync that made something lasting (what was not synced is lost: a file keeps
# what it held at its last fsync, a create, rename or unlink its folder was not synced after
# is undone); or each write (ENOSPC), rename and sync (EIO) fails once.
# install_crash_test: install, uninstall and the return to the original game. From the
# folders each crash or failure left, a fresh process starts up (finishing or undoing what
# was interrupted) and plays the mission installed before the operation; from the same
# folders again, another one plays the mission the operation was installing. Both times the
# game directory must hold exactly that mission as its archive has it (every member with its
# bytes, the language folder left out, the MP3 track as WAV, no file of another mission, the
# game files it does not replace untouched, the marker and the backup saying so) with its
# own saved games in SAVES. Then the scenario plays on to the original game, and the test
# checks every original game file byte for byte, every saved game of every mission in its
# saves archive (under any member name, older versions allowed), nothing of another mission
# there, and that nothing of the program's is left half-written. An operation that saw a
# write fail and still ended as done must have done all of it. Once for ZIP missions and
# once with a solid .7z mission.
# folder_crash_test: missions in folders of their own. A NewDark game directory gets mission
# A (with an MP3 track) and B installed, A removed and installed again; after the start-up
# that clears up, no folder that counts as installed may lack anything, no half-done folder
# of the program's may be left, every saved game and screenshot must be in its mission
# folder or its saves archive, the game's own files untouched, and the scenario must end
# right.
# Prints every point that lost anything (operation, mode, step, the call there) with what it
# lost, and per test and mode how many points were tried and how many lost anything (goal:
# 0). CI runs a sample of the points (install_crash_test, folder_crash_test).
# TALLOWMERE_CRASH_STRIDE=N tries every N-th step instead of all, TALLOWMERE_CRASH_MODES
# (kill,powercut,fail) only those modes, TALLOWMERE_CRASH_POINT=OPERATION:STEP one point
# (with --gtest_filter on the test to pick the mode).
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
    "$build/bin/$test" >"$log" 2>&1 || status=$?
    grep -E "^operation [0-9]+, .* step [0-9]+ |^  " "$log" || true
    awk '/^\[ RUN/ { name = $NF } / points tried: / { sub(/.*\//, "", name); print "  " name ": " $0 }' \
        "$log"
    grep -q "points tried" "$log" || { cat "$log"; exit 1; }
done
exit $status
