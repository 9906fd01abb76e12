#!/usr/bin/env bash
# Builds the three targets with warnings on; any warning fails the build:
#   build/      native Linux
#   build-w64/  64-bit Windows (its tests run under wine64)
#   build-w32/  32-bit Windows, the product target (run under emulation by
#               tests/e2e/install_wine32.sh)
#   build-linux32/  the Linux code and tests as 32-bit programs (-m32), run
#               under qemu-i386-static
# Environment: JOBS (default 2), BUILD_TYPE (default Release).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-2}
type=${BUILD_TYPE:-Release}

build() {
    local dir=$1
    shift
    echo "== building $dir"
    cmake -G Ninja -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE="$type" -DKX_WERROR=ON "$@" >/dev/null
    ninja -C "$root/$dir" -j "$jobs" | tee "$root/$dir/build.log" | grep -E "warning|error" || true
    # The pipe hides ninja's status: ask again, so a failed build stops here.
    ninja -C "$root/$dir" -j "$jobs" >/dev/null
    echo "== $dir: $(grep -c 'warning:' "$root/$dir/build.log" || true) warning(s)"
}

build build
build build-w64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
build build-w32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
build build-linux32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i386.cmake"
