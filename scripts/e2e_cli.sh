#!/usr/bin/env bash
# Runs the real kelvarix1 through its command-line modes and checks what it
# does: the help text, a bundle byte for byte, unpacking into a fresh PTemp_
# folder, every grammar example with its box, install mode on a program that
# carries nothing. Message boxes are read from KELVARIX_MESSAGE_LOG with
# KELVARIX_UNATTENDED=1, so nothing waits for a click.
#
#   bash scripts/e2e_cli.sh path/to/kelvarix1        (Linux build)
#   bash scripts/e2e_cli.sh path/to/kelvarix1.exe    (Windows build, run by wine64
#                                                     under a virtual X server)
set -euo pipefail

program=$(readlink -f "$1")
wine=""
if [[ "$program" == *.exe ]]; then
    wine=${WINE64:-/usr/lib/wine/wine64}
    export WINEDEBUG=-all
    export WINEPREFIX=${WINEPREFIX:-$(dirname "$program")/../../wineprefix}
    # The Windows build opens its progress window first: it needs a display.
    if [[ -z "${DISPLAY:-}" ]]; then
        exec xvfb-run -a bash "$0" "$@"
    fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kx_cli.XXXXXX")
trap 'rm -rf "$work"' EXIT
export KELVARIX_UNATTENDED=1
export KELVARIX_MESSAGE_LOG="$work/boxes.log"
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# shellcheck source=../tests/e2e/exit_codes.sh
source "$(dirname "$0")/../tests/e2e/exit_codes.sh"

# Runs the program (or a bundle made of it) in folder $2 with the remaining
# arguments; the exit code must be $1.
run_in() {
    local expected=$1 folder=$2 exe=$3
    shift 3
    : > "$KELVARIX_MESSAGE_LOG"
    local code=0
    if [[ -n "$wine" ]]; then
        (cd "$folder" && "$wine" "$exe" "$@" >/dev/null 2>&1) || code=$?
    else
        (cd "$folder" && "$exe" "$@" >/dev/null 2>&1) || code=$?
    fi
    [[ $code -eq $expected ]] || fail "exit code $code (expected $expected) for: $*"
}

boxes() { cat "$KELVARIX_MESSAGE_LOG"; }

expect_boxes() {
    local what=$1 expected=$2
    if [[ "$(boxes)" == "$expected" ]]; then pass "$what"; else
        fail "$what: boxes were [$(boxes)], expected [$expected]"
    fi
}

le32() {
    local v=$1
    printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"
    printf "\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"
}

ERROR1="ERROR: Error 1 in split parameters. Can't Distribute."
ERROR2="ERROR: Error 2. Can't Distribute."
HELP="HELP: Version 'General'
Command line:
kelvarix1.exe arch_name [-Key] [file1[,file2...]]
to install simply type: arch_name.exe
Keys
 -i add files to archive
-e extract files from archive

e.g. c:\\kelvarix1.exe arch_name -e (to extract files from arch_name)"

# ---------------------------------------------------------------- help
mkdir "$work/h"
run_in $EXIT_DONE "$work/h" "$program" -?
expect_boxes "-? shows the help text" "$HELP"
run_in $EXIT_DONE "$work/h" "$program" -? x
expect_boxes "-? x shows the help text" "$HELP"

# ---------------------------------------------------------------- invalid command lines
for line in "bundle.exe" "bundle.exe -x" "bundle.exe -I a" "-? xy"; do
    # shellcheck disable=SC2086
    run_in $EXIT_BAD_COMMAND_LINE "$work/h" "$program" $line
    expect_boxes "'$line' is refused" "$ERROR1"
done
long=$(printf 'n%.0s' $(seq 1 250))
run_in $EXIT_MODE_FAILED "$work/h" "$program" "$long" -i a
expect_boxes "a command line of 255 characters is taken (a is missing)" "$ERROR2"
run_in $EXIT_BAD_COMMAND_LINE "$work/h" "$program" "${long}n" -i a
expect_boxes "a command line of 256 characters is refused" "$ERROR1"
many=()
for k in $(seq 1 51); do many+=("f$k"); done
run_in $EXIT_BAD_COMMAND_LINE "$work/h" "$program" b.exe -i "${many[@]}"
expect_boxes "51 files are refused" "$ERROR1"
[[ -z "$(ls "$work/h")" ]] && pass "refused lines write nothing" || fail "refused lines wrote files"

# ---------------------------------------------------------------- pack
mkdir "$work/p"
printf 'first member\n' > "$work/p/a"
head -c 70000 /dev/urandom > "$work/p/b"
run_in $EXIT_DONE "$work/p" "$program" out.exe -i a b
expect_boxes "packing shows no box" ""
s=$(stat -c %s "$program")
sa=$(stat -c %s "$work/p/a")
{
    cat "$program" "$work/p/a" "$work/p/b"
    le32 "$s"; printf '\x01a'
    le32 $((s + sa)); printf '\x01b'
    le32 12
} > "$work/expected.exe"
if cmp -s "$work/p/out.exe" "$work/expected.exe"; then pass "out.exe -i a b: program, a, b, directory, size"; else
    fail "out.exe -i a b differs from the expected bundle"
fi

run_in $EXIT_DONE "$work/p" "$program" empty.exe -i
expect_boxes "-i without files succeeds" ""
[[ ! -e "$work/p/empty.exe" ]] && pass "-i without files writes nothing" || fail "-i without files wrote a bundle"

if [[ -z "$wine" ]]; then
    # Two spaces put an empty name into the list (wine would quote the empty word).
    run_in $EXIT_MODE_FAILED "$work/p" "$program" two.exe -i a "" b
    expect_boxes "an empty name fails the packing" "$ERROR2"
    [[ ! -e "$work/p/two.exe" ]] && pass "a failed packing leaves no bundle" || fail "a failed packing left two.exe"
fi

run_in $EXIT_MODE_FAILED "$work/p" "$program" bad.exe -i a missing
expect_boxes "a missing file fails the packing" "$ERROR2"
[[ ! -e "$work/p/bad.exe" ]] && pass "no bundle is left behind" || fail "bad.exe left behind"

# ---------------------------------------------------------------- unpack
temp_root() {
    if [[ -n "$wine" ]]; then find "$WINEPREFIX/drive_c/users" -maxdepth 5 -type d -name 'PTemp_*' 2>/dev/null | sort
    else find "$work/tmp" -maxdepth 1 -type d -name 'PTemp_*' | sort; fi
}
mkdir -p "$work/u" "$work/tmp"
export TMPDIR="$work/tmp"
before=$(temp_root)
run_in $EXIT_DONE "$work/u" "$work/p/out.exe" "$work/p/out.exe" -e
expect_boxes "unpacking shows no box" ""
made=$(comm -13 <(echo "$before") <(temp_root) | head -n 1)
if [[ -n "$made" && -d "$made" ]]; then
    if cmp -s "$made/a" "$work/p/a" && cmp -s "$made/b" "$work/p/b" && [[ $(ls "$made" | wc -l) -eq 2 ]]; then
        pass "-e writes a and b into a fresh $(basename "$made")"
    else
        fail "-e wrote the wrong members into $made"
    fi
    [[ -n "$wine" ]] && rm -rf "$made"
else
    fail "-e made no PTemp_ folder"
fi
unset TMPDIR

run_in $EXIT_MODE_FAILED "$work/u" "$program" missing.exe -e
expect_boxes "unpacking a missing bundle fails" "$ERROR2"

# ---------------------------------------------------------------- install without a carried archive
mkdir "$work/i"
cp "$program" "$work/i/plain.exe"
run_in $EXIT_INSTALL_FAILED "$work/i" "$work/i/plain.exe"
INTEGRITY="Ошибка: Ошибка 5.Нарушена целостность установочного комплекта! "
if [[ "$(boxes | head -n 1)" == "$INTEGRITY" && "$(boxes | tail -n 1)" == "$ERROR2" ]]; then
    pass "install from a program that carries nothing: integrity error, then Error 2"
else
    fail "install from a plain program showed [$(boxes)]"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all command-line checks passed"
