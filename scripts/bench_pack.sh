#!/bin/bash
# Packing benchmark on a mixed corpus copied from this machine (documentation,
# programs, shared libraries; at least 100 MB). Compares kelvarix-pack with
# gzip -6 and gzip -9 of a tar of the same tree, and extraction by kelvarix-x
# with gzip -d. Prints the figures; never fails on them.
#
#   [MODES="3,3 --solid,5"] scripts/bench_pack.sh BUILD_DIR [CORPUS_DIR]
# The corpus is built in /tmp (never inside the repository) when missing.
set -eu
BUILD=${1:?usage: bench_pack.sh BUILD_DIR [CORPUS_DIR]}
CORPUS=${2:-/tmp/kelvarixpack_bench_corpus}
WORK=/tmp/kelvarixpack_bench_work
PACK=$BUILD/src/programs/kelvarix-pack
EXTRACT=$BUILD/src/programs/kelvarix-x

if [ ! -d "$CORPUS" ]; then
    echo "building corpus in $CORPUS ..." >&2
    mkdir -p "$CORPUS/doc" "$CORPUS/bin" "$CORPUS/lib"
    cp -rL /usr/share/doc/. "$CORPUS/doc/" 2>/dev/null || true
    # About 45 MB each of programs and libraries, in a fixed order.
    total=0
    for f in $(ls /usr/bin | sort); do
        [ -f "/usr/bin/$f" ] || continue
        s=$(stat -Lc %s "/usr/bin/$f")
        [ $((total + s)) -gt 47185920 ] && continue
        cp -L "/usr/bin/$f" "$CORPUS/bin/" 2>/dev/null && total=$((total + s))
    done
    total=0
    for f in $(ls /usr/lib/x86_64-linux-gnu | grep '\.so' | sort); do
        [ -f "/usr/lib/x86_64-linux-gnu/$f" ] || continue
        s=$(stat -Lc %s "/usr/lib/x86_64-linux-gnu/$f")
        [ $((total + s)) -gt 47185920 ] && continue
        cp -L "/usr/lib/x86_64-linux-gnu/$f" "$CORPUS/lib/" 2>/dev/null && total=$((total + s))
    done
fi

rm -rf "$WORK"
mkdir -p "$WORK"
# Runs a shell command line RUNS times (default 3); prints the smallest
# processor time in seconds (the least disturbed run).
cpu() {
    local TIMEFORMAT='%U %S' best="" t
    for run in $(seq 1 "${RUNS:-3}"); do
        export RUN_NO=$run
        t=$({ time sh -c "$1" > /dev/null 2>&1; } 2>&1 | awk '{ printf "%.2f", $1 + $2 }')
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}

SIZE=$(du -sb "$CORPUS" | cut -f1)
FILES=$(find "$CORPUS" -type f | wc -l)
tar -cf "$WORK/corpus.tar" -C "$CORPUS" .
TAR=$(stat -c %s "$WORK/corpus.tar")
cat "$WORK/corpus.tar" > /dev/null   # warm the cache for everyone alike

G6T=$(cpu "gzip -6 -c '$WORK/corpus.tar' > '$WORK/c6.gz'")
G9T=$(cpu "gzip -9 -c '$WORK/corpus.tar' > '$WORK/c9.gz'")
G6=$(stat -c %s "$WORK/c6.gz"); G9=$(stat -c %s "$WORK/c9.gz")
GDT=$(cpu "gzip -d -c '$WORK/c9.gz' > '$WORK/back.tar'")
rm -f "$WORK/back.tar"

echo "corpus: $FILES files, $SIZE bytes (tar $TAR bytes)"
printf "%-28s %12s %8s %9s %9s\n" "" "bytes" "ratio" "cpu s" "MB/s"
row() { printf "%-28s %12s %7.2f%% %9.2f %9.1f\n" "$1" "$2" "$(echo "100*$2/$SIZE" | bc -l)" "$3" "$(echo "$SIZE/1048576/$3" | bc -l)"; }
row "gzip -6 (tar)" "$G6" "$G6T"
row "gzip -9 (tar)" "$G9" "$G9T"

# MODES: comma-separated kelvarix-pack settings to measure.
if [ -n "${MODES:-}" ]; then IFS=, read -ra LIST <<< "$MODES"; else LIST=("3" "3 --solid" "5"); fi
for mode in "${LIST[@]}"; do
    name=$(echo "level $mode" | tr -d '-')
    rm -f "$WORK/k.rar"
    KT=$(cpu "'$PACK' --archive -q --level $mode -o '$WORK/k.rar' '$CORPUS'")
    KS=$(stat -c %s "$WORK/k.rar")
    row "kelvarix-pack $name" "$KS" "$KT"
    # Each run extracts into a fresh folder made beforehand (not timed).
    for run in $(seq 1 "${RUNS:-3}"); do rm -rf "$WORK/out.$run"; mkdir "$WORK/out.$run"; done
    XT=$(cpu "'$EXTRACT' '$WORK/k.rar' \"$WORK/out.\$RUN_NO\"")
    if diff -r "$CORPUS" "$WORK/out.1" > /dev/null; then same=identical; else same=DIFFERENT; fi
    rm -rf "$WORK"/out.*
    printf "  extraction by kelvarix-x: %.2f s (gzip -d: %.2f s), tree %s\n" "$XT" "$GDT" "$same"
    printf "  size vs gzip -9: %.3f   packing speed vs gzip -6: %.2fx\n" \
        "$(echo "$KS/$G9" | bc -l)" "$(echo "$G6T/$KT" | bc -l)"
done
rm -rf "$WORK"
