#!/usr/bin/env bash
# Installs a build into a staging folder (as a package would under /usr), checks the
# layout, then runs the installed program under a virtual display with a fresh home
# folder and checks from the files it opens that it took its language file from
# share/tallowmere/ and its settings from ~/.config/tallowmere/, and that the engines and
# the sound plug-in in lib/tallowmere/ load.
#   tests/desktop/install_check.sh <build folder>
# Exit 77 (skipped) when xvfb-run or strace is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
for tool in xvfb-run strace python3; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
usr=$stage/usr

fail() { echo "FAILED: $*"; exit 1; }
for f in bin/tallowmere lib/tallowmere/ZIPENG.DLL lib/tallowmere/UNZENG.DLL \
         lib/tallowmere/mp3dec.plg share/tallowmere/Tallowmere.dat \
         share/applications/io.github.tallowmere.Tallowmere.desktop \
         share/metainfo/io.github.tallowmere.Tallowmere.metainfo.xml \
         share/icons/hicolor/scalable/apps/io.github.tallowmere.Tallowmere.svg \
         share/icons/hicolor/48x48/apps/io.github.tallowmere.Tallowmere.png \
         share/icons/hicolor/256x256/apps/io.github.tallowmere.Tallowmere.png; do
    [ -e "$usr/$f" ] || fail "$f is not installed"
done
[ -x "$usr/bin/tallowmere" ] || fail "bin/tallowmere cannot be run"
python3 - "$usr/share/icons/hicolor" <<'PY' || fail "a PNG icon has the wrong size"
import struct, sys, glob
for png in glob.glob(sys.argv[1] + "/*x*/apps/*.png"):
    size = int(png.split("/")[-3].split("x")[0])
    with open(png, "rb") as f:
        head = f.read(24)
    assert struct.unpack(">II", head[16:24]) == (size, size), png
PY

# The engines and the plug-in load from their installed place with their entry points (a
# sanitizer build needs its run-time libraries loaded first).
preload=$(ldd "$usr/lib/tallowmere/UNZENG.DLL" | awk '/lib(asan|ubsan)\.so/ {print $3}' | paste -sd:)
LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0 \
python3 - "$usr/lib/tallowmere" <<'PY' || fail "an engine or the plug-in does not load"
import ctypes, sys
d = sys.argv[1]
for name, symbol in (("ZIPENG.DLL", "ZipEngineExec"), ("UNZENG.DLL", "UnzipEngineExec")):
    getattr(ctypes.CDLL(d + "/" + name), symbol)
ctypes.CDLL(d + "/mp3dec.plg")
PY

# A first start for a new user: the setup dialog comes up; stopped once it has looked for
# its settings (or after 60 seconds).
home=$work/home
mkdir -p "$home"
# (timeout runs them in a process group of their own and passes a TERM on to all of it)
env -i PATH="$PATH" HOME="$home" ASAN_OPTIONS=detect_leaks=0 \
    timeout 60 xvfb-run -a strace -f -qq -e trace=openat,open -o "$work/trace" \
    "$usr/bin/tallowmere" >/dev/null 2>&1 &
run=$!
for _ in $(seq 600); do
    grep -qs "Tallowmere.ini\"" "$work/trace" && grep -qs "Tallowmere.dat\"" "$work/trace" && break
    sleep 0.1
done
sleep 0.5
kill -TERM "$run" 2>/dev/null || true
wait "$run" || true
grep -q "$usr/share/tallowmere/Tallowmere.dat\"" "$work/trace" ||
    fail "the language file was not read from share/tallowmere/"
grep -q "$home/.config/tallowmere/Tallowmere.ini\"" "$work/trace" ||
    fail "the settings were not looked for in ~/.config/tallowmere/"
[ -d "$home/.config/tallowmere" ] || fail "~/.config/tallowmere/ was not created"
! grep -q "$usr/bin/Tallowmere.ini\"" "$work/trace" ||
    fail "the installed program looked for settings beside itself"
echo "installed program: language file, settings, engines and plug-in found"
