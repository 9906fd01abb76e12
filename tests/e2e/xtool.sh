#!/usr/bin/env bash
# kelvarix-x -l and -t on reference archives, volume sets, an installer built
# here and damaged input: one row per case with the exit code, a text standard
# output holds and a text standard error holds. A test writes nothing, and
# without a terminal no progress line is drawn (standard error stays empty on
# success). Then the progress lines on terminals: kelvarix-x's, the
# installer's (a line, plain lines, nothing) and kelvarix-pack's, which must
# fit a narrow terminal and cut names between UTF-8 characters.
#
#   xtool.sh KELVARIX_X KELVARIX_PACK KELVARIX1 CORPUS_DIR
set -u
[ $# = 4 ] || { echo "usage: xtool.sh KELVARIX_X KELVARIX_PACK KELVARIX1 CORPUS_DIR" >&2; exit 2; }
x=$(realpath "$1") pack=$(realpath "$2") stub=$(realpath "$3") corpus=$(realpath "$4")
work=$(mktemp -d "${TMPDIR:-/tmp}/kxxtool_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# A product folder packed into an installer, once whole and once with one
# byte of packed data flipped; a volume set with one volume missing.
mkdir -p product/bin
printf 'echo setup\n' >product/setup.sh
head -c 300000 /dev/urandom >product/bin/data.bin
seq 1 20000 >product/numbers.txt
"$pack" --stub "$stub" --target linux -o inst product setup.sh >/dev/null 2>&1 || { echo "FAIL kelvarix-pack"; exit 1; }
cp inst damaged
# One byte inside bin/data.bin's stored data (the archive follows the stub,
# whose size differs between builds), inverted so it surely changes.
at=$(($(stat -c %s "$stub") + 150000))
byte=$(od -An -tu1 -j "$at" -N1 damaged | tr -d ' ')
printf "\\$(printf '%03o' $((byte ^ 255)))" | dd of=damaged bs=1 seek="$at" conv=notrunc status=none
mkdir gap && cp "$corpus"/Rar2.multi.rar "$corpus"/Rar2.multi.r0[0-3] gap/

# option archive | exit | stdout holds | stderr holds
rows=(
"-l $corpus/Rar2.multi.rar|0|088814e3  jpg/test.jpg|"
"-l $corpus/Rar2.multi.rar|0|100926        60007  5 entries|"
"-t $corpus/Rar2.multi.rar|0|All entries OK|"
"-l $corpus/rar3-old.rar|0|205000       205000  stored  2.0  2016-05-24 11:42:36  509ad74c  vols/bigfile.txt|"
"-t $corpus/r14volcm.rar|0|All entries OK|"
"-l $corpus/rar14-solid.rar|0|1720           37  normal  1.3  2026-07-27 10:54:58  7ef2      SECOND.TXT|"
"-t $corpus/test_v2solid5.rar|0|All entries OK|"
"-l inst|0|bin/data.bin|"
"-l inst|0|300000|"
"-t inst|0|All entries OK|"
"-t damaged|3||damaged: bin/data.bin: damaged data (checksum does not match)"
"-t $corpus/rar20-password-compressed.rar|3||SECRET.TXT: damaged data"
"-t $corpus/Rar4.rar|1||exe/test.exe: packed with a method this program does not have"
"-t gap/Rar2.multi.rar|1||gap/Rar2.multi.r04: jpg/test.jpg: next volume missing"
"-l gap/Rar2.multi.rar|1||gap/Rar2.multi.r04: next volume missing"
"-t $corpus/README.md|1||README.md: no archive found in the file"
"-l missing.rar|1||missing.rar: no such file"
"-x inst|1||unknown option -x"
"--version|0|kelvarix-x |"
"--help|0|-t          test every entry's checksum|"
)
for row in "${rows[@]}"; do
    IFS='|' read -r args code out_text err_text <<<"$row"
    before=$(ls -A | sort)
    # shellcheck disable=SC2086
    "$x" $args >out 2>err </dev/null
    got=$?
    problem=""
    [ "$got" = "$code" ] || problem="exit $got, expected $code"
    [ -z "$out_text" ] || grep -qF -- "$out_text" out || problem="$problem; stdout lacks '$out_text'"
    if [ -n "$err_text" ]; then
        grep -qF -- "$err_text" err || problem="$problem; stderr lacks '$err_text'"
    elif [ "$code" = 0 ] && [ -s err ]; then
        problem="$problem; stderr not empty"
    fi
    [ "$(ls -A | grep -v '^out$\|^err$' | sort)" = "$(grep -v '^out$\|^err$' <<<"$before")" ] ||
        problem="$problem; files appeared"
    if [ -n "$problem" ]; then
        echo "FAIL kelvarix-x $args: ${problem#; }"
        sed 's/^/  out: /' out | head -5
        sed 's/^/  err: /' err | head -5
        failures=$((failures + 1))
    else
        echo "PASS kelvarix-x $args"
    fi
done

# On a terminal that redraws, -t draws the overall line (bytes of the whole
# archive); under TERM=dumb it draws none.
if command -v script >/dev/null; then
    for term in xterm dumb; do
        TERM=$term script -qec "'$x' -t inst" /dev/null >tty 2>&1 </dev/null
        total=$(awk '{s += $1} END {print s}' < <("$x" -l inst | sed '1d;$d'))
        if [ $term = xterm ] && ! grep -qF "100.0% of $total bytes" tty; then
            echo "FAIL progress line on a terminal"; sed 's/^/  tty: /' tty | head -3; failures=$((failures + 1))
        elif [ $term = dumb ] && grep -q "% of" tty; then
            echo "FAIL progress line under TERM=dumb"; failures=$((failures + 1))
        else
            echo "PASS progress line, TERM=$term"
        fi
    done
fi

check() {  # name condition...
    local name=$1
    shift
    if "$@"; then echo "PASS $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
has() { grep -qF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }

# The installer: redrawn line with overall progress and the hint on a
# terminal; plain lines without escape sequences under TERM=dumb and into a
# pipe; nothing under KELVARIX_UNATTENDED=1.
printf '#!/bin/sh\nexit 0\n' >product/setup.sh
chmod +x product/setup.sh
"$pack" --stub "$stub" --target linux -o inst2 product setup.sh >/dev/null 2>&1 && chmod +x inst2
run_inst() {  # folder-name command-prefix...
    mkdir -p "$work/t_$1"
    local name=$1
    shift
    TMPDIR=$work/t_$name "$@" </dev/null >"$name.out" 2>&1
}
if command -v script >/dev/null; then
    run_inst tty env TERM=xterm script -qec "stty cols 100; ./inst2" /dev/null
    check "installer line on a terminal" has tty.out "Esc: cancel"
    check "installer line shows overall progress" has tty.out "all 100%"
    run_inst dumb env TERM=dumb script -qec "./inst2" /dev/null
    check "installer plain lines under TERM=dumb" has dumb.out "numbers.txt"
    check "no escape sequence under TERM=dumb" lacks dumb.out $'\x1b'
fi
run_inst pipe ./inst2
check "installer plain lines into a pipe" has pipe.out "bin/data.bin"
check "no escape sequence into a pipe" lacks pipe.out $'\x1b'
run_inst quiet env KELVARIX_UNATTENDED=1 ./inst2
check "nothing drawn unattended" test ! -s quiet.out

# kelvarix-pack on a 40-column terminal: every redrawn line fits 39 columns,
# is whole UTF-8 and shows the long Cyrillic name's tail.
if command -v script >/dev/null; then
    mkdir -p cyr/"папка с длинным именем"
    head -c 1000 /dev/urandom >cyr/"папка с длинным именем/файл-с-очень-длинным-именем.bin"
    echo s >cyr/s.sh
    script -qec "stty cols 40; '$pack' --stub '$stub' --target linux -o cyr.inst cyr s.sh" /dev/null </dev/null |
        tr '\r' '\n' | grep '^\[' >packline
    check "kelvarix-pack line fits and cuts between characters" python3 -c '
import sys
lines = open(sys.argv[1], "rb").read().split(b"\n")
ok = any("именем.bin" in l.decode() for l in lines if l)
for l in lines:
    if l: ok = ok and len(l.decode("utf-8")) <= 39 and b"\\" not in l
sys.exit(0 if ok else 1)' packline
fi
[ "$failures" = 0 ]
