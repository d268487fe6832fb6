#!/bin/bash
# Play to game start, on a stand-in game directory in tmpfs: the install-and-launch operation
# (driver bench/play_bench.cpp, run as the window runs it) for the 250 MB benchmark mission
# whose snd/music/*.mp3 are real MP3 tracks, beside `unzip -qo` of the same archive plus
# `mpg123 -w` of every track one after another. Each round installs the mission into a fresh
# game directory, returns to the original game and installs it again (saved games restored).
# Also one 6-minute MP3 through the sound plug-in against `mpg123 -w`.
#   bench/play_bench.sh [BUILD_DIR]   (a Release build with benchmarks; default build/bench;
#                                      RUNS=3 rounds; SIX_ONLY=1 for the 6-minute MP3 alone)
# The first install is also run through the main window (driver bench/play_ui_bench.cpp).
# Goals: Play at most 0.6 of the reference, the window adding at most 5% to it, the plug-in at most 1.1 of mpg123, peak memory
# of the install under 100 MB.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=$(cd "${1:-$ROOT/build/bench}" && pwd)
BIN=$BUILD/bin
CORPUS=${TM_BENCH_DIR:-/tmp/tm-bench}
RUNS=${RUNS:-3}
[ -z "${SIX_ONLY:-}" ] || RUNS=0
WORK=/dev/shm/tm-play-bench.$$
trap 'rm -rf "$WORK"' EXIT

if [ ! -d "$CORPUS/big" ] || [ ! -f "$CORPUS/mp3/music.mp3" ]; then
    TM_BENCH_DIR=$CORPUS python3 "$ROOT/../shared/bench/make_corpus.py" --parts big,mp3
fi
for f in play_bench play_ui_bench UNZENG.DLL ZIPENG.DLL mp3dec.plg; do
    [ -e "$BIN/$f" ] || { echo "missing $BIN/$f (build with -DTM_BUILD_BENCH=ON)"; exit 1; }
done

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
since() { echo "$(now) - $1" | bc -l; }
mkdir -p "$WORK/mission" "$WORK/settings"

# The mission (bench/play_zip.sh).
. "$HERE/play_zip.sh"
pack_play_zip
cp "$ZIP" "$WORK/mission/play.zip"
ZIP=$WORK/mission/play.zip
TRACKS=$(unzip -Z1 "$ZIP" | grep -c '\.mp3$')
echo "== mission $(du -m "$ZIP" | cut -f1) MB, $(unzip -Z1 "$ZIP" | wc -l) members, $TRACKS MP3 tracks; $RUNS rounds"

# A stand-in game: a few of its own files that the mission replaces, and a game program.
fresh_game() {
    rm -rf "$WORK/game"
    G=$WORK/game/Thief2
    mkdir -p "$G/SAVES" "$G/strings" "$G/snd/music"
    echo "game" > "$G/strings/default.str"
    echo "game" > "$G/dark.cfg"
    echo "game" > "$G/install.cfg"
    head -c 200000 /dev/urandom > "$G/snd/music/track00.wav"
    printf '#!/bin/sh\n' > "$G/thief2.exe"
    chmod +x "$G/thief2.exe"
}
# Saved games the player made while the mission was installed.
play_some() {
    for i in $(seq 10); do head -c 2000000 /dev/urandom > "$G/SAVES/game$i.sav"; done
    (cd "$G/SAVES" && md5sum game*.sav) > "$WORK/saves.md5"
}
# play_bench ARCHIVE|original LABEL: one run, its phases appended to $WORK/LABEL.txt
run_ours() {
    "$BIN/play_bench" "$BIN" "$WORK/settings" "$G" "$1" > "$WORK/out.txt"
    cat "$WORK/out.txt" >> "$WORK/$2.txt"
}
# Every installed track is a WAV and the same sound as mpg123 makes; no MP3 is left.
check_install() {
    local left; left=$(find "$G" -iname '*.mp3' | wc -l)
    [ "$left" = 0 ] || { echo "MP3 FILES LEFT: $left"; exit 1; }
    for f in "$WORK"/ref/snd/music/*.wav; do
        cmp -s <(tail -c +45 "$f") <(tail -c +45 "$G/snd/music/$(basename "$f")") ||
            { echo "WAV DIFFERS: $f"; exit 1; }
    done
    diff -rq -x '*.mp3' -x 'track*.wav' -x SAVES "$WORK/ref" "$G" | grep -v '^Only in' &&
        { echo "TREE DIFFERS"; exit 1; } || true
}

unzip_s=(); mpg_s=(); mpg2_s=()
for r in $(seq "$RUNS"); do
    rm -rf "$WORK/ref"; mkdir "$WORK/ref"
    t0=$(now); (cd "$WORK/ref" && unzip -qo "$ZIP"); unzip_s+=("$(since "$t0")")
    t0=$(now)
    find "$WORK/ref/snd" -name '*.mp3' | sort | while read -r f; do mpg123 -q -w "${f%.mp3}.wav" "$f"; done
    mpg_s+=("$(since "$t0")")
    t0=$(now)
    find "$WORK/ref/snd" -name '*.mp3' | sort | xargs -P2 -I{} sh -c 'mpg123 -q -w "${1%.mp3}.wav" "$1"' _ {}
    mpg2_s+=("$(since "$t0")")
    find "$WORK/ref" -name '*.mp3' -delete

    fresh_game
    run_ours "$ZIP" install
    check_install
    play_some
    run_ours original original
    [ -z "$(ls "$G/SAVES")" ] || { echo "SAVED GAMES NOT STORED"; exit 1; }
    run_ours "$ZIP" again
    check_install
    (cd "$G/SAVES" && md5sum -c --quiet "$WORK/saves.md5") || { echo "SAVED GAMES NOT RESTORED"; exit 1; }
    # The same first install through the main window's Play button.
    fresh_game
    rm -rf "$WORK/window"; mkdir "$WORK/window"
    "$BIN/play_ui_bench" "$BIN" "$WORK/window" "$G" "$WORK/mission" play > "$WORK/out.txt" ||
        { cat "$WORK/out.txt"; exit 1; }
    cat "$WORK/out.txt" >> "$WORK/window.txt"
    check_install
done

med() { printf '%s\n' "$@" | median; }
if [ "$RUNS" -gt 0 ]; then
# phase NAME FILE: median seconds of a phase over the rounds (0 when it did not occur)
phase() { awk -v p="$1" '$1 == "phase" && $2 == p {print $3}' "$WORK/$2.txt" | median | sed 's/^$/0/'; }
total() { awk '$1 == "total" {print $2}' "$WORK/$1.txt" | median; }
peak() { awk '$1 == "peak" {print $2}' "$WORK/$1.txt" | sort -n | tail -1; }

u=$(med "${unzip_s[@]}"); m=$(med "${mpg_s[@]}"); m2=$(med "${mpg2_s[@]}")
ref=$(echo "$u + $m" | bc -l)
printf "reference: unzip -qo %.2f s + mpg123 -w one after another %.2f s = %.2f s (two mpg123 at a time: %.2f s)\n" \
    "$u" "$m" "$ref" "$m2"
for run in install original again; do
    printf "%-9s" "$run:"
    for p in uninstall saves backup extraction conversion finish; do
        printf " %s %.2f" "$p" "$(phase $p $run)"
    done
    printf " | total %.2f s, peak memory %.1f MB" "$(total $run)" "$(echo "$(peak $run) / 1024" | bc -l)"
    [ "$(phase first-track $run)" = 0 ] && echo || printf " (first track converting %.2f s into the extraction)\n" "$(phase first-track $run)"
done
printf "Play to game start: %.2f s against %.2f s, ratio %.3f (goal <= 0.6)\n" \
    "$(total install)" "$ref" "$(echo "$(total install) / $ref" | bc -l)"
printf "Play through the window: %.2f s (usable again after %.2f s, peak memory %.1f MB), %.3f of the same install without a window (goal <= 1.05)\n" \
    "$(total window)" "$(awk '$1 == "refreshed" {print $2}' "$WORK/window.txt" | median)" \
    "$(echo "$(peak window) / 1024" | bc -l)" "$(echo "$(total window) / $(total install)" | bc -l)"
printf "return to the original game %.2f s; install again %.2f s, ratio %.3f\n" \
    "$(total original)" "$(total again)" "$(echo "$(total again) / $ref" | bc -l)"
fi

# One 6-minute track through the sound plug-in, against mpg123 -w.
SIX=$CORPUS/mp3/six.mp3
if [ ! -f "$SIX" ]; then
    sox "$CORPUS/mp3/music.wav" "$CORPUS/mp3/music.wav" "$WORK/six.wav"
    lame --quiet -b 192 "$WORK/six.wav" "$SIX.tmp" && mv "$SIX.tmp" "$SIX"
fi
mkdir -p "$WORK/six"
ref=$(for i in $(seq 5); do t0=$(now); mpg123 -q -w "$WORK/six/ref.wav" "$SIX"; since "$t0"; done | median)
# The plug-in's figure is the conversion alone: the driver's own start (Qt, settings) is no
# part of it, while mpg123's start is part of mpg123's figure.
: > "$WORK/six.txt"
ours=$(for i in $(seq 5); do cp "$SIX" "$WORK/six/t.mp3"; t0=$(now)
       "$BIN/play_bench" "$BIN" "$WORK/settings" convert "$WORK/six/t.mp3" >> "$WORK/six.txt"; since "$t0"; done | median)
conv=$(awk '$1 == "convert" {print $2}' "$WORK/six.txt" | median)
cmp -s "$WORK/six/ref.wav" "$WORK/six/t.wav" || { echo "6-MINUTE WAV DIFFERS FROM MPG123'S"; exit 1; }
printf "6-minute MP3: mpg123 -w %.3f s, plug-in %.3f s, ratio %.3f (goal <= 1.1); with the driver's start %.3f s, ratio %.3f\n" \
    "$ref" "$conv" "$(echo "$conv / $ref" | bc -l)" "$ours" "$(echo "$ours / $ref" | bc -l)"
