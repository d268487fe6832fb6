#!/bin/sh
# Fuzzes the ZIP directory reader (list), the extraction engine (extract) or in-memory
# extraction through the archive component (stream) with libFuzzer for a while (not part
# of CI). Memory is limited: a process above RSS_MB (default 512) or a single allocation
# above MALLOC_MB (default 256) counts as a finding.
#
#   bench/fuzz.sh [SECONDS] [BUILD_DIR] [list|extract|stream]   (defaults: 120, build/fuzz, list)
#
# Seeds come from small archives made here by zip, 7z, bsdtar and Python's zipfile
# (ZIP64, comments, encryption, hostile names and links included). Crashes land in
# BUILD_DIR/fuzz-artifacts/; replay one with the plain program: bench program fuzz_list
# or fuzz_extract (TM_BUILD_BENCH=ON) FILE.
set -eu
SECONDS_TO_RUN=${1:-120}
BUILD=${2:-build/fuzz}
TARGET=${3:-list}
RSS_MB=${RSS_MB:-512}
MALLOC_MB=${MALLOC_MB:-256}
case "$TARGET" in list | extract | stream) ;; *) echo "target: list, extract or stream" >&2; exit 2 ;; esac
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
if [ -z "$(ls -A "$CORPUS")" ]; then
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

cd "$ARTIFACTS"
"$BUILD/bin/fuzz_${TARGET}_fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 \
    -timeout=10 -rss_limit_mb="$RSS_MB" -malloc_limit_mb="$MALLOC_MB" -print_final_stats=1 \
    "$CORPUS"
