#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ (clang, with the address and
# undefined-behaviour sanitizers) and runs each one for a short time from its
# seeds; the archive targets also start from the reference archives, copied
# into a temporary seed folder. Any finding (crash, hang, leak, sanitizer
# report, a harness check) fails the run and leaves the input in $out.
#
# Usage: scripts/fuzz_all.sh [SECONDS_PER_TARGET] [TARGET...]
#   env FUZZ_BUILD (default build-fuzz), KX_CORPUS (default ../shared/corpus)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-40}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(extract headers v20 v15 bundle setup command_line wildcard)
fi
build=${FUZZ_BUILD:-$root/build-fuzz}
corpus=${KX_CORPUS:-$root/../shared/corpus}

# libFuzzer comes with clang's runtime libraries; CI machines get them here.
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y --no-install-recommends clang libclang-rt-14-dev >/dev/null
    else
        echo "fuzz_all: clang with libFuzzer is missing" >&2
        exit 1
    fi
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")} CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -G Ninja -S "$root" -B "$build" -DKX_FUZZ=ON -DKX_TESTS=OFF -DKX_WERROR=ON "${launcher[@]}" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2 $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

out=$(mktemp -d "${TMPDIR:-/tmp}/kx_fuzz.XXXXXX")
export TMPDIR=$out  # the targets' scratch folders go here too
failed=0
for t in "${targets[@]}"; do
    work=$out/$t
    mkdir -p "$work/corpus" "$work/artifacts"
    cp "$root/fuzz/$t/seeds/"* "$work/corpus/" 2>/dev/null || true
    if [ "$t" = extract ] || [ "$t" = headers ]; then
        find "$corpus" -maxdepth 1 -type f ! -name '*.md' -size -16k -exec cp {} "$work/corpus/" \; 2>/dev/null || true
        chmod u+w "$work/corpus/"*
    fi
    status=0
    (cd "$work" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" corpus >"$work/log" 2>&1) || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
    if [ $status -ne 0 ]; then
        failed=1
        echo "fuzz_$t: FINDING after ${runs:-?} runs (exit $status); input and log in $work"
        grep -E 'FINDING|ERROR|SUMMARY' "$work/log" | head -5
    else
        echo "fuzz_$t: ${runs:-?} runs in ${seconds}s, no finding"
        rm -rf "$work"
    fi
done
if [ $failed -ne 0 ]; then
    exit 1
fi
rm -rf "$out"
