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

# ccache, where installed, keeps repeated builds short (paths taken relative
# to the folder above the checkout, so another clone shares the cache).
launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
    export CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# build DIR [cmake options...] [-- ninja targets...]
build() {
    local dir=$1
    shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift && targets=("$@")
    echo "== building $dir"
    cmake -G Ninja -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE="$type" -DKX_WERROR=ON "${launcher[@]}" \
        "${options[@]}" >/dev/null
    ninja -C "$root/$dir" -j "$jobs" "${targets[@]}" | tee "$root/$dir/build.log" | grep -E "warning|error" || true
    # The pipe hides ninja's status: ask again, so a failed build stops here.
    ninja -C "$root/$dir" -j "$jobs" "${targets[@]}" >/dev/null
    echo "== $dir: $(grep -c 'warning:' "$root/$dir/build.log" || true) warning(s)"
}

# The test programs the 32-bit Linux run uses (scripts/test_all.sh runs
# their CTest tests).
LINUX32_TESTS="unpack_tests archive_tests bundle_tests pack_tests format_tests"

build build
build build-w64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
build build-w32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
# The 32-bit Linux build: the test programs of the code whose sizes and
# offsets depend on the word size (decoders, reader, bundle, writer, format).
build build-linux32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/linux-i386.cmake" -- $LINUX32_TESTS
