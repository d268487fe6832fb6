#!/usr/bin/env bash
# Tallowmere's set-up commands for a fresh Debian 12 machine:
#   ./tm run    installs what the build needs, builds, prepares a demo setup and starts
#               the program on it
#   ./tm test   installs what the tests need, builds with AddressSanitizer and
#               UndefinedBehaviorSanitizer and runs every test
#   ./tm package  builds the Debian package build/package/tallowmere_<version>_<arch>.deb
#               (install it with: apt-get install ./build/package/tallowmere_*.deb)
# Further: ./tm bench (benchmarks, see bench/README.md), ./tm format (clang-format).
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"

PACKAGES=(build-essential cmake ninja-build pkg-config git
          qt6-base-dev qt6-svg-dev qt6-translations-l10n libgl1-mesa-dev zlib1g-dev libdeflate-dev libmpg123-dev
          libgtest-dev googletest libbenchmark-dev libarchive-dev liblzma-dev libuchardet-dev
          libyaml-cpp-dev
          zip unzip p7zip-full 7zip libarchive-tools lame sox python3 xvfb xauth clang-format
          dpkg-dev desktop-file-utils appstream strace)

# Further packages for the benchmark corpus and measurements.
BENCH_PACKAGES=(espeak-ng time mpg123)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

jobs=$(nproc 2>/dev/null || echo 2)

configure_and_build() {  # dir, extra cmake args...
    local dir=$1; shift
    # Warnings are errors for us; a plain build (a packager's) only reports them.
    set -- -DTM_WERROR=ON "$@"
    # ccache, when installed, keeps rebuilds of other checkouts and build folders short.
    if command -v ccache >/dev/null 2>&1; then
        set -- -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@"
    fi
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

case "${1:-}" in
run)
    install_packages
    configure_and_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTM_BUILD_TESTS=OFF
    cmake --build build/release --target demo
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "No display is available. Start the program under a virtual display, for example:"
        echo "    xvfb-run -a ./tm run"
        exit 1
    fi
    exec build/release/bin/Tallowmere
    ;;
test-deps)
    # Only the packages (used by CI before its first build).
    install_packages
    ;;
test)
    install_packages
    configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DTM_SANITIZE=ON -DTM_BUILD_TESTS=ON
    cd build/asan
    export QT_QPA_PLATFORM=offscreen
    ctest --output-on-failure -j "$jobs" --timeout 600
    ;;
bench)
    PACKAGES+=("${BENCH_PACKAGES[@]}")
    install_packages
    configure_and_build build/bench -DCMAKE_BUILD_TYPE=Release -DTM_BUILD_TESTS=OFF -DTM_BUILD_BENCH=ON
    shift
    exec bench/run_all.sh build/bench "$@"
    ;;
package)
    install_packages
    configure_and_build build/package -DCMAKE_BUILD_TYPE=Release -DTM_BUILD_TESTS=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr
    (cd build/package && cpack -G DEB)
    ls -1 build/package/*.deb
    ;;
format)
    git ls-files '*.cpp' '*.h' | xargs clang-format -i
    ;;
*)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
