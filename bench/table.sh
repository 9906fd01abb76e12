#!/usr/bin/env bash
# The speed and memory figures in one run: each row as a ratio against its
# yardstick (zlib, cp, the reference archiver's packed sizes, one thread),
# with the machine's load before and after, since the benchmarks share the
# machine with whatever else runs. Prints figures; never fails on them.
#
#   bench/table.sh [BUILD_DIR (default build)]
# Environment: KX_BENCH_CORPUS (a folder to pack for the large rows; made in
# /tmp from this machine's documentation, programs and libraries when
# missing, about 100 MB), KX_BENCH_STORED_MIB (default 1024),
# KX_BENCH_PACK_MIB (default 1024).
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bench=$build/bench
pack=$build/src/programs/kelvarix-pack
corpus=${KX_BENCH_CORPUS:-/tmp/kelvarix_bench_table_corpus}
work=$(mktemp -d /tmp/kelvarix_bench_table.XXXXXX)
trap 'rm -rf "$work"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
row() { printf '%-58s %s\n' "$1" "$2"; }

if [ ! -d "$corpus" ]; then
    echo "making the corpus in $corpus ..." >&2
    mkdir -p "$corpus/doc" "$corpus/bin" "$corpus/lib"
    # About 35 MB from each source, in a fixed order.
    take() {
        local from=$1 to=$2 total=0 f s
        for f in $(cd "$from" && find . -type f | LC_ALL=C sort); do
            s=$(stat -Lc %s "$from/$f" 2>/dev/null) || continue
            [ $((total + s)) -gt 36700160 ] && continue
            mkdir -p "$to/$(dirname "$f")"
            cp -L "$from/$f" "$to/$f" 2>/dev/null && total=$((total + s))
        done
    }
    take /usr/share/doc "$corpus/doc"
    take /usr/bin "$corpus/bin"
    take /usr/lib/x86_64-linux-gnu "$corpus/lib"
fi

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) processor(s): $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== load at the start: $(load)"
echo "== corpus $corpus: $(du -sm "$corpus" | cut -f1) MB"
echo

# Decoding: the fast decoder against zlib -6 inflate of the same content.
# Besides the whole corpus, its documentation files under 2 KiB (at most
# 1,000, by name), solid and non-solid: many small entries, where table
# blocks and the ends of entries weigh most.
mkdir -p "$work/small"
(cd "$corpus/doc" && find . -type f -size -2k | sed 's|^\./||' | LC_ALL=C sort | head -n 1000) | while read -r f; do
    cp "$corpus/doc/$f" "$work/small/$(echo "$f" | tr '/' '_')"
done
"$pack" --archive --solid --level=3 -q -o "$work/solid3.rar" "$corpus"
"$pack" --archive --solid --level=3 -q -o "$work/small_solid.rar" "$work/small"
"$pack" --archive --level=3 -q -o "$work/small_apart.rar" "$work/small"
"$bench/bench-unpack" "" --archive "$work/solid3.rar" --archive "$work/small_solid.rar" \
    --archive "$work/small_apart.rar" >"$work/unpack.txt" 2>&1
ratio() { grep -F "$1" "$work/unpack.txt" | sed -n 's/.*fast\/zlib \([0-9.]*\).*/\1/p' | head -1; }
ld=$(grep -F solid3.rar "$work/unpack.txt" | sed -n 's/.*fast\/libdeflate \([0-9.]*\).*/\1/p')
row "2.0 method incl. CRC, kelvarix-pack --solid level 3 (goal 1.5)" \
    "$(ratio solid3.rar)x zlib-6${ld:+, ${ld}x libdeflate (moonshot 0.7)}"
row "  the same, its documentation files under 2 KiB" "$(ratio small_solid.rar)x zlib-6"
row "  those files non-solid (a table block each)" "$(ratio small_apart.rar)x zlib-6"
row "2.0 method, Rar2 / test_v2 / Boat regular (goal 1.5)" \
    "$(ratio Rar2.rar)x / $(ratio test_v2)x / $(ratio 'BoatModernEnglish regular')x zlib-6"
row "  Rar2 by entry: exe / jpg / txt" \
    "$(ratio 'Rar2.rar entry exe')x / $(ratio 'Rar2.rar entry jpg')x / $(ratio 'Rar2.rar entry ?')x zlib-6"
row "audio mode, Boat audio / own 16-bit stereo (goal 0.7)" "$(ratio 'BoatModernEnglish audio')x / $(ratio '16-bit stereo')x zlib-6"
row "1.5 method, Rar15 / rar14-solid / r14volcm (goal 1.0)" "$(ratio Rar15.rar)x / $(ratio rar14-solid)x / $(ratio r14volcm)x zlib-6"
grep -q "CHECKSUM MISMATCH\|FAILED" "$work/unpack.txt" && row "decoding" "CHECK FAILED (see bench-unpack)"

# Checksums.
"$bench/bench-checksum" >"$work/checksum.txt" 2>&1
mbs() { grep -F "$1" "$work/checksum.txt" | awk '{for (i = 1; i < NF; ++i) if ($(i + 1) == "MB/s") print $i}' | head -1; }
row "CRC-32, run-time choice (goal 10000 MB/s)" "$(mbs 'run-time choice') MB/s, $(grep -F 'run-time choice' "$work/checksum.txt" | sed -n 's/.* \([0-9.]*x\) zlib.*/\1/p') zlib's"
row "old 16-bit checksum (goal 2000 MB/s)" "$(mbs 'old 16-bit') MB/s"

# Stored extraction against cp.
"$bench/bench-stored" "$work/stored" "${KX_BENCH_STORED_MIB:-1024}" 5 >"$work/stored.txt" 2>&1
row "stored ${KX_BENCH_STORED_MIB:-1024} MiB, processor time vs cp (goal 1.3)" \
    "$(sed -n 's/^cpu ratio extraction\/cp (best): \([0-9.]*\)  (median): \([0-9.]*\).*/\1x best, \2x median/p' "$work/stored.txt")"

# Packing memory for one large file.
"$bench/bench-pack-memory" "${KX_BENCH_PACK_MIB:-1024}" 0 3 >"$work/memory.txt" 2>&1
row "kelvarix-pack, one ${KX_BENCH_PACK_MIB:-1024} MiB file, peak (goal 64 MiB)" \
    "$(grep -o 'level [0-9]: peak [0-9.]* MiB' "$work/memory.txt" | sed 's/: peak//' | paste -sd' ' -)"

# Level 5 against the reference archiver's best packed sizes.
"$bench/bench-pack-best" >"$work/best.txt" 2>&1
row "level 5 / reference best, per original (goal 0.97)" \
    "$(awk '$NF == "ok" {printf "%s %s  ", $1, $7}' "$work/best.txt")"
row "level 5 / level 3, per original (goal <= 1)" "$(awk '$NF == "ok" {printf "%s %s  ", $1, $8}' "$work/best.txt")"

# Both cores when packing a set that is not solid: wall time, one thread
# against two; the archives must be the same byte for byte.
wall() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}'
}
# A file over 4 MiB is packed by one thread as it is read, so the time those
# files take alone bounds the speed-up.
w1=$(wall "$pack" --archive --level=3 --threads 1 -q -o "$work/t1.rar" "$corpus")
w2=$(wall "$pack" --archive --level=3 --threads 2 -q -o "$work/t2.rar" "$corpus")
same=$(cmp -s "$work/t1.rar" "$work/t2.rar" && echo "identical" || echo "DIFFERENT")
mkdir -p "$work/large"
(cd "$corpus" && find . -type f -size +4096k | LC_ALL=C sort) | while read -r f; do
    cp "$corpus/$f" "$work/large/$(echo "$f" | tr '/' '_')"
done
wl=$(wall "$pack" --archive --level=3 --threads 1 -q -o "$work/large.rar" "$work/large")
row "kelvarix-pack level 3, 2 threads vs 1 (wall time)" \
    "$(awk -v a="$w1" -v b="$w2" -v s="$same" 'BEGIN {printf "%.2fx speed-up (%.1f s / %.1f s), archives %s", a / b, a, b, s}')"
row "  its bound: the files over 4 MiB alone take" \
    "$(awk -v a="$w1" -v l="$wl" 'BEGIN {printf "%.1f s of %.1f s: at most %.2fx", l, a, a / (l > a / 2 ? l : a / 2)}')"

echo
echo "== load at the end: $(load)"
echo "== the benchmarks' own output: $work is removed; run bench/bench-* for details"
