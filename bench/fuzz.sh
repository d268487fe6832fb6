#!/bin/sh
# Fuzzes one reader of untrusted input with libFuzzer for a while (not part of CI), one
# worker:
#   list, extract, stream   the ZIP directory reader, the extraction engine, in-memory
#                           extraction through the archive component
#   rtf, html, glml         the read-me converters (rich text through Qt's own layout)
#   text                    the text decoder and text utilities
#   fileversion             the version resource reader of program files
#   ini, language           the settings store and the language table
#   typedetect              the mission type detection of ZIP archives
#   sevenz                  the .7z/.rar reader (header check, listing, reading, extraction)
#
#   bench/fuzz.sh [SECONDS] [BUILD_DIR] [TARGET]   (defaults: 120, build/fuzz, list)
#   RUNS=1000000 bench/fuzz.sh 0 build/fuzz html   (a number of runs instead of a time)
#
# Memory and time are limited: a process above RSS_MB, a single allocation above
# MALLOC_MB or one input taking more than TIMEOUT seconds counts as a finding (defaults
# 512 MB, 256 MB, 10 s for the archive targets; 1024 MB, 512 MB and 2 s for the others, so
# that a quadratic case is a finding). Seeds of the archive targets are small archives made
# here by zip, 7z, bsdtar and Python's zipfile (ZIP64, comments, encryption, hostile names
# and links included); the others start from their fixtures in tests/data/fuzz/TARGET/,
# where every finding is kept (CI replays them). Crashes land in BUILD_DIR/fuzz-artifacts/;
# replay one with the plain program: bench program fuzz_TARGET (TM_BUILD_BENCH=ON) FILE.
set -eu
SECONDS_TO_RUN=${1:-120}
BUILD=${2:-build/fuzz}
TARGET=${3:-list}
case "$TARGET" in
list | extract | stream)
    RSS_MB=${RSS_MB:-512} MALLOC_MB=${MALLOC_MB:-256} TIMEOUT=${TIMEOUT:-10} MAX_LEN=4096 ;;
rtf | html | glml)
    RSS_MB=${RSS_MB:-1024} MALLOC_MB=${MALLOC_MB:-512} TIMEOUT=${TIMEOUT:-2} MAX_LEN=65536 ;;
text | fileversion | ini | language | typedetect | sevenz)
    RSS_MB=${RSS_MB:-1024} MALLOC_MB=${MALLOC_MB:-512} TIMEOUT=${TIMEOUT:-2} MAX_LEN=16384 ;;
*)
    echo "target: list extract stream rtf html glml text fileversion ini language typedetect sevenz" >&2
    exit 2 ;;
esac
SRC=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)

cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTM_FUZZ=ON -DTM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target "fuzz_${TARGET}_fuzzer" -j2

CORPUS="$BUILD/fuzz-corpus/$TARGET"
ARTIFACTS="$BUILD/fuzz-artifacts"
mkdir -p "$CORPUS" "$ARTIFACTS"
FIXTURES="$SRC/tests/data/fuzz/$TARGET"
if [ -d "$FIXTURES" ]; then
    [ -n "$(ls -A "$CORPUS")" ] || cp "$FIXTURES"/* "$CORPUS"/
elif [ -z "$(ls -A "$CORPUS")" ]; then
    WORK=$(mktemp -d)
    mkdir -p "$WORK/t/maps" "$WORK/t/books"
    printf 'intro' > "$WORK/t/maps/intro.pcx"
    printf 'note' > "$WORK/t/books/note.str"
    (cd "$WORK/t" && zip -qr "$CORPUS/iz.zip" maps books && printf 'c\n' | zip -qz "$CORPUS/iz.zip") || true
    (cd "$WORK/t" && 7z a -tzip -bd "$CORPUS/7z.zip" maps books >/dev/null) || true
    (cd "$WORK/t" && bsdtar --format zip -cf "$CORPUS/bsd.zip" maps books) || true
    if [ "$TARGET" != list ]; then
        (cd "$WORK/t" && zip -qr -P secret "$CORPUS/enc.zip" maps books) || true
        (cd "$WORK/t" && zip -qr0 "$CORPUS/stored.zip" maps books) || true
        (cd "$WORK/t" && ln -s maps link && zip -qry "$CORPUS/link.zip" link books) || true
    fi
    python3 - "$CORPUS" <<'PY'
import sys, zipfile
d = sys.argv[1]
with zipfile.ZipFile(d + "/py.zip", "w") as z:
    z.writestr("m\x81.txt", b"x")
    z.writestr("dir/", b"")
with zipfile.ZipFile(d + "/names.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("../up.txt", b"up")
    z.writestr("/abs.txt", b"abs")
    z.writestr("A/x.txt", b"one" * 40)
    z.writestr("a/X.TXT", b"two" * 40)
zipfile.ZIP64_LIMIT = 4
zipfile.ZIP_FILECOUNT_LIMIT = 1
with zipfile.ZipFile(d + "/z64.zip", "w") as z:
    z.comment = b"zip64"
    z.writestr("a/b.txt", b"hello" * 10)
PY
    rm -rf "$WORK"
fi

# The settings writes of ini, language and typedetect are synced: a tmpfs keeps them cheap.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ]; then export TMPDIR=/dev/shm; fi
if [ -n "${RUNS:-}" ]; then LENGTH="-runs=$RUNS"; else LENGTH="-max_total_time=$SECONDS_TO_RUN"; fi
cd "$ARTIFACTS"
"$BUILD/bin/fuzz_${TARGET}_fuzzer" "$LENGTH" -max_len="$MAX_LEN" \
    -timeout="$TIMEOUT" -rss_limit_mb="$RSS_MB" -malloc_limit_mb="$MALLOC_MB" \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/${TARGET}-" "$CORPUS"
