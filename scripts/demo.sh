#!/usr/bin/env bash
# The main job end to end on this machine: builds kelvarix1, kelvarix-pack and
# kelvarix-x (Linux), packs an example installer from a few files with -i, runs
# that installer with -e to unpack it again into a fresh PTemp_ folder, and compares what came out.
# Then the install itself: kelvarix-pack turns a product folder with its setup
# program into an installer in one step (the archive behind a copy of
# kelvarix1), kelvarix-x lists and tests the archive that installer carries, and
# the installer is run with no arguments: it extracts into $TMPDIR/PTemp_a and
# starts the setup program there.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cmake -G Ninja -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$root/build" -j "${JOBS:-2}" kelvarix1 kelvarix-pack kelvarix-x >/dev/null
kx="$root/build/src/programs/kelvarix1"

work=$(mktemp -d "${TMPDIR:-/tmp}/kx_demo.XXXXXX")
cd "$work"
printf 'Orvanta example product\n' > readme.txt
head -c 200000 /dev/urandom > product.bin
printf '[Values]\nSetupFile=setup.sh\n' > setup.spt

echo "== packing: kelvarix1 example-installer -i readme.txt product.bin setup.spt"
"$kx" example-installer -i readme.txt product.bin setup.spt
ls -l "$kx" example-installer

echo "== unpacking: ./example-installer example-installer -e"
mkdir tmp
TMPDIR="$work/tmp" ./example-installer example-installer -e
folder=$(ls -d "$work"/tmp/PTemp_*)
ls -l "$folder"
for f in readme.txt product.bin setup.spt; do cmp "$f" "$folder/$f"; done
echo "== the members came back unchanged in $folder"

echo
echo "== installing: a product folder with its setup program"
mkdir product
printf 'Orvanta example product\n' > product/readme.txt
head -c 200000 /dev/urandom > product/product.bin
cat "$root"/README.md "$root"/src/*/*.cpp > product/manual.txt
# The product's setup program: here a script that says what it was given.
cat > product/setup.sh <<'SETUP'
#!/bin/sh
echo "setup.sh runs in $(pwd)" > "$KX_DEMO_REPORT"
echo "setup.sh was given: $*" >> "$KX_DEMO_REPORT"
SETUP
echo "== kelvarix-pack --stub kelvarix1 -o example-setup product setup.sh --demo"
"$root/build/src/programs/kelvarix-pack" --stub "$kx" -o example-setup product setup.sh --demo
echo "== kelvarix-x -l example-setup (list what the installer carries)"
"$root/build/src/programs/kelvarix-x" -l example-setup
echo "== kelvarix-x -t example-setup (test every entry; nothing is written)"
"$root/build/src/programs/kelvarix-x" -t example-setup
mkdir install-tmp
echo "== ./example-setup (no arguments: install)"
TMPDIR="$work/install-tmp" KX_DEMO_REPORT="$work/setup-report.txt" ./example-setup
for _ in $(seq 1 50); do [ -s "$work/setup-report.txt" ] && break; sleep 0.1; done
cat "$work/setup-report.txt"
ls -l "$work/install-tmp/PTemp_a"
for f in readme.txt product.bin manual.txt setup.sh; do cmp "product/$f" "$work/install-tmp/PTemp_a/$f"; done
echo "== installed: the product is in $work/install-tmp/PTemp_a and its setup program ran there"
