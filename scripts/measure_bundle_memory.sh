#!/usr/bin/env bash
# Peak memory of packing and unpacking a 1 GiB member with the real program:
# the Linux build, and the 64-bit Windows build under wine64 when it is built.
# Prints the maximum resident set size of each run (/usr/bin/time -v); the
# target is under 64 MiB. Needs about 3 GiB of free disk in $TMPDIR or /tmp.
#   bash scripts/measure_bundle_memory.sh [member MiB, default 1024]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mib=${1:-1024}
cmake -G Ninja -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$root/build" -j "${JOBS:-2}" kelvarix1 bench-bundle >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/kx_mem.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c $((mib * 1024 * 1024)) /dev/urandom > member.bin
export KELVARIX_UNATTENDED=1

peak() { grep "Maximum resident set size" "$1" | awk '{printf "%.1f MiB", $NF / 1024}'; }

measure() {
    local label=$1
    shift
    /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>&1
    printf '%-34s peak %s, %s s\n' "$label" "$(peak "$work/time.txt")" \
        "$(grep 'Elapsed (wall clock)' "$work/time.txt" | awk '{print $NF}')"
}

echo "member: $mib MiB"
kx="$root/build/src/programs/kelvarix1"
measure "linux: kelvarix1 -? (baseline)" "$kx" -?
measure "linux: pack (-i)" "$kx" out.bin -i member.bin
mkdir tmp
TMPDIR="$work/tmp" measure "linux: unpack (-e)" ./out.bin out.bin -e
cmp member.bin tmp/PTemp_a/member.bin && echo "linux: unpacked member identical"
rm -rf out.bin tmp

wkx="$root/build-w64/src/programs/kelvarix1.exe"
if [[ -x /usr/lib/wine/wine64 && -f "$wkx" ]]; then
    export WINEDEBUG=-all WINEPREFIX="$root/build-w64/wineprefix"
    xvfb-run -a bash -c "
        set -e
        $(declare -f peak measure)
        work='$work'
        measure 'wine64: kelvarix1.exe -? (baseline)' /usr/lib/wine/wine64 '$wkx' -?
        measure 'wine64: pack (-i)' /usr/lib/wine/wine64 '$wkx' out.exe -i member.bin
        before=\$(find '$WINEPREFIX/drive_c/users' -maxdepth 5 -type d -name 'PTemp_*' | sort)
        measure 'wine64: unpack (-e)' /usr/lib/wine/wine64 ./out.exe out.exe -e
        made=\$(comm -13 <(echo \"\$before\") <(find '$WINEPREFIX/drive_c/users' -maxdepth 5 -type d -name 'PTemp_*' | sort) | head -n 1)
        cmp member.bin \"\$made/member.bin\" && echo 'wine64: unpacked member identical'
        rm -rf \"\$made\"
    " 2>&1 | grep -v '^X connection'
fi
