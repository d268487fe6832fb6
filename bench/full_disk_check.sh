#!/usr/bin/env bash
# A game directory on a disk that fills up during Play (not part of CI; needs `unshare -rm`
# or root, for a small tmpfs of its own):
#   bench/full_disk_check.sh [BUILD_DIR]   (default build/bench: bin/play_bench, the engines
#                                           and the sound plug-in)
# For every disk size from just above the game's own files to enough for the whole
# mission, in steps: Play of a mission (game files it replaces, incompressible data, an MP3
# track) either succeeds or stops with a message and the marker "unfinished"; then the disk
# gets room again and Play of the original game must bring back every game file byte for
# byte and every saved game, and leave no temporary file. Prints the sizes tried, how each
# ended, and the sizes with a loss (goal: none).
set -euo pipefail
if [ "$(id -u)" != 0 ] || [ -z "${TM_FULL_DISK_NS:-}" ]; then
    exec unshare -rm env TM_FULL_DISK_NS=1 "$0" "$@"
fi
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=$(cd "${1:-$ROOT/build/bench}" && pwd)
BIN=$BUILD/bin
CORPUS=${TM_BENCH_DIR:-/tmp/tm-bench}
WORK=$(mktemp -d /tmp/tm-full-disk.XXXXXX)
trap 'umount "$WORK/disk" 2>/dev/null; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/disk" "$WORK/mission" "$WORK/tree/strings" "$WORK/tree/snd" "$WORK/pristine"

# The mission: replaces three game files, brings 3 MB that do not compress and a speech track
# (1.4 MB of MP3, 7.9 MB as WAV).
echo "mission strings" > "$WORK/tree/strings/default.str"
echo "mission config" > "$WORK/tree/dark.cfg"
head -c 400000 /dev/urandom > "$WORK/tree/snd/game.wav"
head -c 3000000 /dev/urandom > "$WORK/tree/miss20.mis"
MP3=$CORPUS/mp3/speech.mp3
[ -f "$MP3" ] || { echo "no $MP3: run bench/play_bench.sh once"; exit 1; }
cp "$MP3" "$WORK/tree/snd/speech.mp3"
(cd "$WORK/tree" && zip -q -r -X "$WORK/mission/full.zip" .)

# The game: its own files and the player's saved games of the original game.
game_files() {
    local g=$1
    mkdir -p "$g/strings" "$g/SAVES" "$g/snd"
    echo "game strings" > "$g/strings/default.str"
    echo "game config" > "$g/dark.cfg"
    head -c 500000 /dev/urandom > "$g/snd/game.wav"
    head -c 300000 /dev/urandom > "$g/SAVES/game0000.sav"
    printf '#!/bin/sh\n' > "$g/thief2.exe"
    chmod +x "$g/thief2.exe"
}
game_files "$WORK/pristine"
# What the game takes on a tmpfs of its own.
mount -t tmpfs -o size=64m tmpfs "$WORK/disk"
cp -a "$WORK/pristine/." "$WORK/disk/"
USED_KB=$(df --output=used -k "$WORK/disk" | tail -1 | tr -d ' ')
umount "$WORK/disk"
FULL_KB=$(( USED_KB + 20000 ))
# Fine steps where the saves archive (300 KB), the backup (500 KB) and the marker are
# written, then coarse ones through the extraction and the conversion.
SIZES="$(seq $((USED_KB + 4)) 24 $((USED_KB + 1000))) $(seq $((USED_KB + 1100)) 700 "$FULL_KB")"

tried=0; failed=0; succeeded=0; losses=()
for kb in $SIZES; do
    tried=$((tried + 1))
    umount "$WORK/disk" 2>/dev/null || true
    mount -t tmpfs -o "size=${kb}k" tmpfs "$WORK/disk"
    G=$WORK/disk/Thief2
    mkdir -p "$G"; cp -a "$WORK/pristine/." "$G/"
    rm -rf "$WORK/settings"; mkdir -p "$WORK/settings"
    set +e
    out=$("$BIN/play_bench" "$BIN" "$WORK/settings" "$G" "$WORK/mission/full.zip" 2>&1)
    status=$?
    set -e
    marker2=$(sed -n 2p "$G/Tallowmere.Current" 2>/dev/null | tr -d '\r' || true)
    if [ $status = 0 ]; then
        succeeded=$((succeeded + 1))
        how="installed"
        # Installed means all of it: every file, the track as a WAV.
        for f in strings/default.str dark.cfg snd/game.wav miss20.mis; do
            cmp -s "$WORK/tree/$f" "$G/$f" || losses+=("$kb KB: reported installed, $f missing or wrong")
        done
        [ -s "$G/snd/speech.wav" ] && [ ! -e "$G/snd/speech.mp3" ] ||
            losses+=("$kb KB: reported installed, the track not converted")
    elif [ $status = 3 ] && { [ "$marker2" = unfinished ] || [ ! -f "$G/Tallowmere.Current" ]; }; then
        failed=$((failed + 1))
        how="stopped: $(echo "$out" | sed -n 's/^error //p' | cut -c1-90)"
    else
        losses+=("$kb KB: ended with status $status, marker line 2 '$marker2'")
        how="WRONG ENDING"
    fi
    # Room again; back to the original game.
    mount -o remount,size=$((FULL_KB * 2))k "$WORK/disk"
    set +e
    back=$("$BIN/play_bench" "$BIN" "$WORK/settings" "$G" original 2>&1)
    status=$?
    set -e
    [ $status = 0 ] || losses+=("$kb KB: return to the original game failed: $back")
    rm -f "$G/Tallowmere.Current"
    rm -rf "$G/allsaves"
    if ! diff -r "$WORK/pristine" "$G" >/dev/null; then
        losses+=("$kb KB: game directory differs: $(diff -rq "$WORK/pristine" "$G" | head -3 | tr '\n' ';')")
    fi
    printf "%6d KB: %s\n" "$kb" "$how"
done
echo "disk sizes tried: $tried (installed $succeeded, stopped cleanly $failed), with a loss: ${#losses[@]}"
for l in "${losses[@]}"; do echo "LOSS $l"; done
[ ${#losses[@]} = 0 ]
