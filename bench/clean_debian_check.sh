#!/usr/bin/env bash
# Checks the Debian package the way a new user meets it: builds it (./tm package), installs
# it with apt-get into a freshly made Debian 12 (bookworm) system, which takes the
# package's dependencies from Debian, and there runs `tallowmere --version` and `--help`
# and starts the program under a virtual display with a new home folder. The program must
# answer both options, stay up until it is stopped and print nothing meanwhile.
#   bench/clean_debian_check.sh [--no-build]     (--no-build: the .deb already built)
# Runs as root (debootstrap, chroot) and needs Debian's mirror ($DEBIAN_MIRROR, default
# http://deb.debian.org/debian). The bare system (debootstrap's minbase), the package lists
# and the downloaded packages are kept in build/clean-debian/, so a second run only copies
# the bare system and installs; each run installs into a copy of its own, removed at the
# end. Prints PASS or FAIL (exit code 0 or 1) and the time taken.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=$top/build/clean-debian
started=$(date +%s)
root=

finish() {  # verdict, message
    echo "$1${2:+: $2} ($(($(date +%s) - started)) s)"
    [ "$1" = PASS ] && exit 0
    exit 1
}
fail() { finish FAIL "$*"; }

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap and chroot need it)"
mkdir -p "$cache/archives/partial" "$cache/lists/partial"
if ! command -v debootstrap >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

# The processes running inside the copy (the program, the X server), by their root folder.
processes_inside() {
    local p
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && echo "${p#/proc/}"
    done
    return 0
}

# Stops what still runs inside the copy, unmounts its file systems and removes it; the
# copy is removed only when nothing is mounted in it any more (so never the cache below).
clean_up() {
    [ -n "$root" ] && [ -d "$root" ] || return 0
    local pids
    pids=$(processes_inside)
    [ -z "$pids" ] || { kill -KILL $pids 2>/dev/null || true; sleep 1; }
    for m in var/cache/apt/archives var/lib/apt/lists dev/shm dev/pts proc; do
        ! mountpoint -q "$root/$m" || umount "$root/$m" || umount -l "$root/$m"
    done
    if grep -q " $root/" /proc/mounts; then
        echo "left in place, still mounted: $root" >&2
    else
        rm -rf "$root"
    fi
}
trap clean_up EXIT

echo "== building the package"
if [ "${1:-}" != --no-build ]; then
    ./tm package >"$cache/package.log" 2>&1 || { tail -30 "$cache/package.log"; fail "./tm package failed"; }
fi
deb=$(ls -t build/package/tallowmere_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no package in build/package/"
version=$(dpkg-deb -f "$deb" Version)
echo "$deb"

base=$cache/bookworm-minbase
if [ ! -e "$base/.complete" ]; then
    echo "== making a bare Debian 12 system (once; kept in $base)"
    rm -rf "$base"
    debootstrap --variant=minbase bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -20 "$cache/debootstrap.log"; fail "debootstrap failed"; }
    touch "$base/.complete"
fi

echo "== installing it into a copy of that system"
root=$(mktemp -d "$cache/root.XXXXXX")
cp -a "$base/." "$root/"
rm "$root/.complete"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${mirror%/debian}/debian-security bookworm-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mkdir -p "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
mount --bind "$cache/lists" "$root/var/lib/apt/lists"
cp "$deb" "$root/tmp/"
inside() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
inside apt-get update -qq >"$cache/install.log" 2>&1 &&
    inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "/tmp/${deb##*/}" xvfb xauth >>"$cache/install.log" 2>&1 ||
    { tail -30 "$cache/install.log"; fail "the package does not install"; }
echo "$(grep -c "^Setting up" "$cache/install.log") packages set up (log: $cache/install.log)"

echo "== tallowmere --version, --help"
out=$(inside tallowmere --version 2>&1) || fail "--version exits with $?"
[ "$out" = "Tallowmere $version" ] || fail "--version prints '$out', not 'Tallowmere $version'"
echo "$out"
out=$(inside tallowmere --help 2>&1) || fail "--help exits with $?"
grep -q "^Usage: tallowmere " <<<"$out" || fail "--help prints no usage: $out"
echo "$out" | head -1

echo "== starting it under xvfb-run with a new home folder"
mkdir -p "$root/tmp/home" "$root/tmp/run"
chmod 700 "$root/tmp/run"
inside env HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/run timeout 12 xvfb-run -a tallowmere \
    >"$cache/run.log" 2>&1 &
run=$!
sleep 8
alive=no
for pid in $(processes_inside); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = tallowmere ] && alive=yes
done
status=0
wait "$run" || status=$?
[ $alive = yes ] || { cat "$cache/run.log"; fail "the program did not stay up (exit code $status)"; }
[ $status = 124 ] || { cat "$cache/run.log"; fail "xvfb-run ended with $status before it was stopped"; }
[ ! -s "$cache/run.log" ] || { cat "$cache/run.log"; fail "the program printed the above"; }
[ -d "$root/tmp/home/.config/tallowmere" ] || fail "~/.config/tallowmere/ was not created"
echo "ran 8 s, printed nothing, made ~/.config/tallowmere/"
finish PASS "Tallowmere $version installs and starts on a clean Debian 12"
