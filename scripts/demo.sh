#!/usr/bin/env bash
# The main job end to end on this machine: builds kelvarix1 (Linux), packs an
# example installer from a few files with -i, runs that installer with -e to
# unpack it again into a fresh PTemp_ folder, and compares what came out.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cmake -G Ninja -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$root/build" -j "${JOBS:-2}" kelvarix1 >/dev/null
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
