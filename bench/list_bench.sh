#!/bin/sh
# Lists the 2,000 small archives of the benchmark corpus with the directory reader (one
# process) and with a loop of `unzip -Z1` (one process per archive), and prints the ratio.
# Goal: the reader takes at most 0.01 of the loop's time.
#
#   bench/list_bench.sh [BUILD_DIR]      (BUILD_DIR configured with -DTM_BUILD_BENCH=ON)
#
# The corpus comes from ../shared/bench/make_corpus.py ($TM_BENCH_DIR, default
# /tmp/tm-bench); without it, 2,000 small archives are made here with Python's zipfile.
set -eu
BUILD=${1:-build/bench}
BENCH_DIR=${TM_BENCH_DIR:-/tmp/tm-bench}
LIST="$BENCH_DIR/small.list"

if [ ! -s "$LIST" ]; then
    LIST=$(mktemp -d)/small.list
    DIR=$(dirname "$LIST")
    python3 - "$DIR" <<'PY'
import os, random, sys, zipfile
d = sys.argv[1]
rnd = random.Random(7)
with open(os.path.join(d, "small.list"), "w") as out:
    for i in range(2000):
        p = os.path.join(d, "fm_%04d.zip" % i)
        with zipfile.ZipFile(p, "w", zipfile.ZIP_DEFLATED) as z:
            for j in range(rnd.randint(5, 60)):
                z.writestr("dir%d/file%03d.txt" % (j % 4, j), os.urandom(rnd.randint(100, 4000)))
        out.write(p + "\n")
PY
fi

cmake --build "$BUILD" --target list_bench >/dev/null
"$BUILD/bin/list_bench" --list "$LIST" | tee /tmp/list_bench.$$.out
ours=$(awk '/^median_ms:/ {print $2}' /tmp/list_bench.$$.out)
rm -f /tmp/list_bench.$$.out

# The loop, run three times; the median counts.
loop_ms() {
    python3 - "$LIST" <<'PY'
import subprocess, sys, time
files = [l.strip() for l in open(sys.argv[1]) if l.strip()]
t = []
for _ in range(3):
    t0 = time.perf_counter()
    subprocess.run(["sh", "-c", 'while read f; do unzip -Z1 "$f" >/dev/null; done'],
                   stdin=open(sys.argv[1]), check=True)
    t.append((time.perf_counter() - t0) * 1000)
print("%.1f" % sorted(t)[1])
PY
}
theirs=$(loop_ms)
echo "unzip_loop_ms: $theirs"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio: %.4f (goal <= 0.01)\n", a / b }'
