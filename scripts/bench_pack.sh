#!/bin/sh
# Packing benchmark on a mixed corpus copied from this machine (documentation,
# programs, shared libraries; at least 100 MB). Compares kelvarix-pack with
# gzip -6 and gzip -9 of a tar of the same tree, and extraction by kelvarix-x
# with gzip -d. Prints the figures; never fails on them.
#
#   scripts/bench_pack.sh BUILD_DIR [CORPUS_DIR]
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
now() { date +%s.%N; }
secs() { echo "$2 - $1" | bc; }

SIZE=$(du -sb "$CORPUS" | cut -f1)
FILES=$(find "$CORPUS" -type f | wc -l)
tar -cf "$WORK/corpus.tar" -C "$CORPUS" .
TAR=$(stat -c %s "$WORK/corpus.tar")
cat "$WORK/corpus.tar" > /dev/null   # warm the cache for everyone alike

t0=$(now); gzip -6 -c "$WORK/corpus.tar" > "$WORK/c6.gz"; t1=$(now); G6T=$(secs "$t0" "$t1")
t0=$(now); gzip -9 -c "$WORK/corpus.tar" > "$WORK/c9.gz"; t1=$(now); G9T=$(secs "$t0" "$t1")
G6=$(stat -c %s "$WORK/c6.gz"); G9=$(stat -c %s "$WORK/c9.gz")
t0=$(now); gzip -d -c "$WORK/c9.gz" > "$WORK/back.tar"; t1=$(now); GDT=$(secs "$t0" "$t1")
rm -f "$WORK/back.tar"

echo "corpus: $FILES files, $SIZE bytes (tar $TAR bytes)"
printf "%-28s %12s %8s %9s %9s\n" "" "bytes" "ratio" "seconds" "MB/s"
row() { printf "%-28s %12s %7.2f%% %9.2f %9.1f\n" "$1" "$2" "$(echo "100*$2/$SIZE" | bc -l)" "$3" "$(echo "$SIZE/1048576/$3" | bc -l)"; }
row "gzip -6 (tar)" "$G6" "$G6T"
row "gzip -9 (tar)" "$G9" "$G9T"

for mode in "3" "5" "3 --solid"; do
    name=$(echo "level $mode" | tr -d '-')
    rm -f "$WORK/k.rar"
    t0=$(now); $PACK --archive -q --level $mode -o "$WORK/k.rar" "$CORPUS"; t1=$(now)
    KT=$(secs "$t0" "$t1"); KS=$(stat -c %s "$WORK/k.rar")
    row "kelvarix-pack $name" "$KS" "$KT"
    rm -rf "$WORK/out"; mkdir "$WORK/out"
    t0=$(now); $EXTRACT "$WORK/k.rar" "$WORK/out" > /dev/null 2>&1; t1=$(now); XT=$(secs "$t0" "$t1")
    if diff -r "$CORPUS" "$WORK/out" > /dev/null; then same=identical; else same=DIFFERENT; fi
    printf "  extraction by kelvarix-x: %.2f s (gzip -d: %.2f s), tree %s\n" "$XT" "$GDT" "$same"
    printf "  size vs gzip -9: %.3f   packing speed vs gzip -6: %.2fx\n" \
        "$(echo "$KS/$G9" | bc -l)" "$(echo "$G6T/$KT" | bc -l)"
done
rm -rf "$WORK"
