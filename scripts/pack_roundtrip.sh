#!/usr/bin/env bash
# Installer round trip for kelvarix-pack on Linux: packs a mixed tree (text,
# binaries, empty files, an empty folder, nested folders, a Cyrillic name, a
# PCM sound file) into installers stored, normal, solid and as volume sets,
# runs each installer, and compares what its setup program finds in the
# extraction folder with the tree. Exit code 0 when every mode round-trips.
#
#   scripts/pack_roundtrip.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: pack_roundtrip.sh BUILD_DIR}" && pwd)
pack="$build/src/programs/kelvarix-pack"
stub="$build/src/programs/kelvarix1"
# No dot in the work path: the reader names further volumes from the last dot
# of the whole path, and the installer here has no extension.
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvarixpack_rt_XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

tree="$work/tree"
mkdir -p "$tree/docs/deep/deeper" "$tree/bin" "$tree/empty folder"
seq 1 40000 | sed 's/$/ lines of installer text/' > "$tree/readme.txt"
cp "$tree/readme.txt" "$tree/docs/copy of readme.txt"
head -c 300000 /dev/urandom > "$tree/bin/noise.bin"
head -c 200000 "$stub" > "$tree/bin/program.bin"
: > "$tree/docs/deep/empty.dat"
printf 'x' > "$tree/docs/deep/deeper/tiny.txt"
printf '\xcf\xf0\xe8\xe2\xe5\xf2\r\n' > "$tree/$(printf '\xd1\x82\xd0\xb5\xd1\x81\xd1\x82').txt"
python3 - "$tree/sound.wav" <<'PY'
import math, struct, sys
frames = 60000
data = b"".join(struct.pack("<hh", int(12000 * math.sin(i / 9.0)), int(9000 * math.sin(i / 23.0)))
                for i in range(frames))
hdr = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 22050, 88200, 4, 16)
open(sys.argv[1], "wb").write(hdr + b"data" + struct.pack("<I", len(data)) + data)
PY
cat > "$tree/setup.sh" <<'SETUP'
#!/bin/sh
# Records the extraction folder (the last argument) for the round trip.
report=$1
for last in "$@"; do :; done
echo "$last" > "$report"
SETUP
chmod +x "$tree/setup.sh"

failures=0
mode_no=0
for mode in "--level 0" "--level 3" "--solid --level 5" "--volume-size 64k" "--solid --level 2 --volume-size 48k"; do
    mode_no=$((mode_no + 1))
    dir="$work/run$mode_no"
    mkdir -p "$dir/tmp"
    # shellcheck disable=SC2086
    "$pack" -q $mode --stub "$stub" -o "$dir/setup-installer" "$tree" setup.sh "$dir/report.txt"
    (cd "$dir" && KELVARIX_UNATTENDED=1 TMPDIR="$dir/tmp" ./setup-installer > /dev/null 2>&1) || true
    # The installer starts the setup program and ends; give it time to run.
    for _ in $(seq 1 100); do [ -s "$dir/report.txt" ] && break; sleep 0.1; done
    if [ ! -s "$dir/report.txt" ]; then
        echo "FAIL  $mode: the setup program did not run"
        failures=$((failures + 1))
        continue
    fi
    folder=$(cat "$dir/report.txt")
    if diff -r -x setup.spt "$tree" "$folder" > "$dir/diff.txt" && [ -f "$folder/setup.spt" ]; then
        echo "ok    $mode ($(ls "$dir" | grep -c 'setup-installer') file(s))"
    else
        echo "FAIL  $mode: extracted tree differs"
        cat "$dir/diff.txt"
        failures=$((failures + 1))
    fi
    rm -rf "$folder"
done
# Exit codes of the builder: 1 usage, 2 input, 3 write.
check_exit() {
    local want=$1; shift
    local got=0
    "$@" > /dev/null 2>&1 || got=$?
    if [ "$got" = "$want" ]; then echo "ok    exit $want: ${*:2}"; else
        echo "FAIL  exit $got (want $want): ${*:2}"; failures=$((failures + 1)); fi
}
check_exit 1 "$pack"
check_exit 1 "$pack" --level 9 "$tree" setup.sh
check_exit 1 "$pack" --volume-size 100 "$tree" setup.sh
check_exit 2 "$pack" --stub "$stub" -o "$work/x" "$work/no such folder" setup.sh
check_exit 2 "$pack" --stub "$stub" -o "$work/x" "$tree" missing.sh
check_exit 2 "$pack" --stub "$tree/readme.txt" -o "$work/x" "$tree" setup.sh
check_exit 3 "$pack" --stub "$stub" -o "$work/no such folder/x" "$tree" setup.sh
exit $failures
