#!/bin/bash
# Missions in mission folders, on a stand-in NewDark game directory in tmpfs (driver
# bench/folder_bench.cpp, the operation run as the window runs the play key; the game is a
# script that records its arguments). The mission is play_bench.sh's: the 250 MB benchmark
# mission whose snd/music/*.mp3 are 32 real MP3 tracks.
# - First install into its folder up to the game's start, against `unzip -qo` of the same
#   archive plus `mpg123 -w` of every track one after another, RUNS rounds.
# - Play of the installed mission, from the call the play key makes to the game's start;
#   no archive may be opened.
# - Switching between two installed missions (the same archive under a second name),
#   alternating.
#   bench/folder_bench.sh [BUILD_DIR]   (a Release build with benchmarks; default build/bench;
#                                        RUNS=3 rounds; PLAYS=21 plays and switches;
#                                        GAME_FS=/dev/shm: where the game directory and the
#                                        reference's tree are made, e.g. /tmp for a disk)
# Goals: the first install at most 0.45 of the reference; a play and a switch under 50 ms.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=$(cd "${1:-$ROOT/build/bench}" && pwd)
BIN=$BUILD/bin
CORPUS=${TM_BENCH_DIR:-/tmp/tm-bench}
RUNS=${RUNS:-3}
PLAYS=${PLAYS:-21}
WORK=${GAME_FS:-/dev/shm}/tm-folder-bench.$$
trap 'rm -rf "$WORK"' EXIT

if [ ! -d "$CORPUS/big" ] || [ ! -f "$CORPUS/mp3/music.mp3" ]; then
    TM_BENCH_DIR=$CORPUS python3 "$ROOT/../shared/bench/make_corpus.py" --parts big,mp3
fi
for f in folder_bench UNZENG.DLL ZIPENG.DLL mp3dec.plg; do
    [ -e "$BIN/$f" ] || { echo "missing $BIN/$f (build with -DTM_BUILD_BENCH=ON)"; exit 1; }
done

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
since() { echo "$(now) - $1" | bc -l; }
mkdir -p "$WORK/mission"

# The mission (bench/play_zip.sh).
. "$HERE/play_zip.sh"
pack_play_zip
cp "$ZIP" "$WORK/mission/play.zip"
ZIP=$WORK/mission/play.zip
# The second mission: the same archive under another name, so another record and folder.
ln "$ZIP" "$WORK/mission/other.zip"
TRACKS=$(unzip -Z1 "$ZIP" | grep -c '\.mp3$')
echo "== mission $(du -m "$ZIP" | cut -f1) MB, $(unzip -Z1 "$ZIP" | wc -l) members, $TRACKS MP3 tracks; $RUNS rounds, $PLAYS plays"

# A stand-in NewDark game: cam_mod.ini (missions in FMs/), a few game files, and a game
# program that records its arguments, written aside and renamed.
fresh_game() {
    rm -rf "$WORK/game" "$WORK/settings"
    mkdir -p "$WORK/settings"
    G=$WORK/game/Thief2
    mkdir -p "$G/strings" "$G/snd/music"
    printf '; NewDark\n;fm_path .\\FMs\n' > "$G/cam_mod.ini"
    echo "game" > "$G/strings/default.str"
    echo "game" > "$G/dark.cfg"
    head -c 200000 /dev/urandom > "$G/snd/music/track00.wav"
    printf '#!/bin/sh\necho "$*" > "$(dirname "$0")/started.new" && mv "$(dirname "$0")/started.new" "$(dirname "$0")/started"\n' > "$G/thief2.exe"
    chmod +x "$G/thief2.exe"
    (cd "$G" && find . -type f | sort | xargs md5sum) > "$WORK/game.md5"
}
# folder_bench ARGS...: one run, its output appended to $WORK/LABEL.txt
run_ours() {
    local label=$1; shift
    "$BIN/folder_bench" "$BIN" "$WORK/settings" "$G" "$@" > "$WORK/out.txt" ||
        { cat "$WORK/out.txt"; exit 1; }
    cat "$WORK/out.txt" >> "$WORK/$label.txt"
}
# The folder holds the mission as unzip and mpg123 make it: every track a WAV with the same
# samples, no MP3 left, every other file the same; the game's own files untouched.
check_folder() {
    local F=$G/FMs/$1
    local left; left=$(find "$F" -iname '*.mp3' | wc -l)
    [ "$left" = 0 ] || { echo "MP3 FILES LEFT: $left"; exit 1; }
    for f in "$WORK"/ref/snd/music/*.wav; do
        cmp -s <(tail -c +45 "$f") <(tail -c +45 "$F/snd/music/$(basename "$f")") ||
            { echo "WAV DIFFERS: $f"; exit 1; }
    done
    diff -rq -x '*.mp3' -x 'track*.wav' "$WORK/ref" "$F" | grep -v '^Only in' && { echo "TREE DIFFERS"; exit 1; } || true
    (cd "$G" && md5sum -c --quiet "$WORK/game.md5") || { echo "GAME FILES CHANGED"; exit 1; }
    [ -z "$(find "$G/FMs" -maxdepth 1 -name '.*' ! -name . ! -name ..)" ] ||
        { echo "BUILDING FOLDER LEFT"; exit 1; }
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
    run_ours install install "$ZIP"
    check_folder play
    t=$(awk '$1 == "total" {t = $2} END {print t}' "$WORK/install.txt")
    printf "round %d: unzip %.2f s + mpg123 %.2f s; first install %.2f s, ratio %.3f (load %s)\n" "$r" \
        "${unzip_s[-1]}" "${mpg_s[-1]}" "$t" "$(echo "$t / (${unzip_s[-1]} + ${mpg_s[-1]})" | bc -l)" \
        "$(cut -d' ' -f1 /proc/loadavg)"
done

# The second mission installed beside the first (outside the figures), then the plays.
run_ours other install "$WORK/mission/other.zip"
check_folder other
run_ours play play "$PLAYS" "$ZIP"
run_ours switch play "$PLAYS" "$ZIP" "$WORK/mission/other.zip"
for p in play switch; do
    awk '$1 == "play" && $5 != 0 {bad = 1} END {exit bad}' "$WORK/$p.txt" ||
        { echo "AN ARCHIVE WAS OPENED DURING A PLAY:"; cat "$WORK/$p.txt"; exit 1; }
done

med() { printf '%s\n' "$@" | median; }
# phase NAME: median seconds of a phase of the first install over the rounds
phase() { awk -v p="$1" '$1 == "phase" && $2 == p {print $3}' "$WORK/install.txt" | median | sed 's/^$/0/'; }
field() { awk -v k="$1" -v n="$2" '$1 == k {print $n}' "$WORK/install.txt"; }
u=$(med "${unzip_s[@]}"); m=$(med "${mpg_s[@]}"); m2=$(med "${mpg2_s[@]}")
ref=$(echo "$u + $m" | bc -l)
total=$(field total 2 | median)
printf "reference: unzip -qo %.2f s + mpg123 -w one after another %.2f s = %.2f s (two mpg123 at a time: %.2f s)\n" \
    "$u" "$m" "$ref" "$m2"
printf "first install:"
for p in before extraction conversion sync start; do printf " %s %.3f" "$p" "$(phase $p)"; done
printf " | total %.2f s (operation returned %.2f s), %s flushes %.3f s inside them, peak memory %.1f MB (first track converting %.2f s into the extraction)\n" \
    "$total" "$(field returned 2 | median)" "$(field syncs 2 | median)" "$(field syncs 3 | median)" \
    "$(echo "$(field peak 2 | sort -n | tail -1) / 1024" | bc -l)" "$(phase first-track)"
ratio=$(echo "$total / $ref" | bc -l)
met() { [ "$(echo "$1" | bc -l)" = 1 ] && echo met || echo "NOT MET"; }
printf "first install to game start: %.2f s against %.2f s, ratio %.3f (goal <= 0.45: %s)\n" \
    "$total" "$ref" "$ratio" "$(met "$ratio <= 0.45")"
printf "second mission installed in %.2f s\n" "$(awk '$1 == "total" {print $2}' "$WORK/other.txt")"
for p in play switch; do
    ms=$(awk '$1 == "play" {print $3}' "$WORK/$p.txt" | median)
    printf "%-6s to game start, %s times: median %.2f ms, first %.2f ms, at most %.2f ms (operation returned: median %.2f ms); archives opened: 0 (goal < 50 ms: %s)\n" \
        "$p" "$PLAYS" "$ms" "$(awk '$1 == "play" {print $3; exit}' "$WORK/$p.txt")" \
        "$(awk '$1 == "play" {print $3}' "$WORK/$p.txt" | sort -g | tail -1)" \
        "$(awk '$1 == "play" {print $4}' "$WORK/$p.txt" | median)" "$(met "$ms < 50")"
done
