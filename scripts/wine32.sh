#!/usr/bin/env bash
# Runs a 32-bit Windows program on this 64-bit-only processor: the 32-bit
# wine loader runs under qemu's user-mode emulator.
#
#   scripts/wine32.sh --prepare            make the wine prefix only
#   scripts/wine32.sh PROGRAM.exe [ARG...] run PROGRAM (makes the prefix first
#                                          when needed); exit code: PROGRAM's
#   scripts/wine32.sh --run COMMAND [ARG...]
#                                          run COMMAND where every 32-bit
#                                          Linux program it starts runs under
#                                          qemu (the -m32 test build)
#
# WINEPREFIX names the prefix (default: build-w32/wineprefix). The prefix is
# made natively by wine64 (its 32-bit set-up step fails harmlessly), then its
# syswow64 folder is filled with links to wine's 32-bit DLLs.
#
# The program runs in a private user and mount namespace that mounts its own
# binfmt_misc and there hands i386 ELF programs to qemu-i386-static; wine64
# passes the PE32 program to its 32-bit loader, which the kernel then starts
# under qemu. Nothing is registered for the rest of the machine, whose wine
# keeps running 64-bit programs only.
#
# Each emulated process needs about two minutes to start (wine reserves its
# address space page by page under emulation); keep the number of runs small.
# Needs wine64, wine32:i386, qemu-user-static and unshare (util-linux); the
# display is the caller's (DISPLAY, e.g. from xvfb-run).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
loader32=/usr/lib/wine/wine
dlls32=/usr/lib/i386-linux-gnu/wine/i386-windows
qemu=/usr/bin/qemu-i386-static

# Runs the command in a private user and mount namespace with its own
# binfmt_misc, where i386 ELF programs go to qemu-i386-static. The usual
# qemu-i386 pattern: a 32-bit little-endian ELF (class 1, data 1, version 1)
# of type executable or shared object (2 or 3, mask fe), machine 3. Flag F:
# qemu is opened at registration, so it is found whatever the program's root.
in_namespace() {
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    # shellcheck disable=SC2016  # expanded by the inner shell
    exec unshare --user --map-root-user --mount bash -c '
        set -e
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
        printf "%s" "$1" >/proc/sys/fs/binfmt_misc/register
        shift
        exec "$@"' wine32 ":kx-i386:M::$magic:$mask:$qemu:F" "$@"
}

[ -x "$qemu" ] || { echo "wine32.sh: missing $qemu (qemu-user-static)" >&2; exit 125; }
if [ "${1:-}" = --run ]; then
    shift
    [ $# -ge 1 ] || { echo "usage: scripts/wine32.sh --run COMMAND [ARG...]" >&2; exit 125; }
    in_namespace "$@"
fi

for need in "$wine64" "$loader32" "$dlls32"; do
    [ -e "$need" ] || { echo "wine32.sh: missing $need (wine64, wine32:i386)" >&2; exit 125; }
done

export WINEPREFIX=${WINEPREFIX:-$root/build-w32/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}

prepare() {
    local marker=$WINEPREFIX/.wow64-linked
    [ -e "$marker" ] && return 0
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko installer prompts; the 32-bit half of the set-up
    # cannot run here and is made up for by the links below.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine64" wineboot --init >/dev/null 2>&1 || true
    "$wineserver" -w 2>/dev/null || true
    local wow=$WINEPREFIX/drive_c/windows/syswow64
    [ -d "$wow" ] || { echo "wine32.sh: wineboot made no $wow" >&2; exit 125; }
    local file
    for file in "$dlls32"/*; do
        ln -sfn "$file" "$wow/$(basename "$file")"
    done
    touch "$marker"
}

if [ "${1:-}" = --prepare ]; then
    prepare
    exit 0
fi
[ $# -ge 1 ] || { echo "usage: scripts/wine32.sh --prepare | PROGRAM.exe [ARG...]" >&2; exit 125; }
prepare

in_namespace "$wine64" "$@"
