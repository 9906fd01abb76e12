#!/usr/bin/env bash
# End-to-end install on Linux: an installer built with "kelvarix1 inst -i
# payload.rar" is run with no arguments; it must extract into
# $TMPDIR/PTemp_a, launch the program setup.spt names with the parameter
# text, its own path, its own folder and the extraction folder, and handle a
# missing or unusable script, a damaged payload and Cancel on the terminal,
# each with its exit code; with KELVARIX_WAIT it ends with the setup
# program's code. Messages on standard error follow the locale.
#
# Usage: tests/e2e/install_linux.sh [BUILD_DIR]   (default: build)
# Exit code 0 when every case passes.
set -u

build=$(realpath "${1:-build}")
kelvarix1=$build/src/programs/kelvarix1
record_args=$build/tests/record-args
writer=$build/tests/make-stored-rar
for program in "$kelvarix1" "$record_args" "$writer"; do
    [ -x "$program" ] || { echo "missing $program (build kelvarix1, record-args and make-stored-rar first)"; exit 2; }
done

# shellcheck source=exit_codes.sh
source "$(dirname "$0")/exit_codes.sh"

work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/kx-e2e-linux.XXXXXX")")
trap 'rm -rf "$work"' EXIT
failures=0

pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }

# make_installer CASE FILE...: payload.rar of the stored files (NAME=PATH),
# packed behind a copy of kelvarix1 as $work/CASE/inst.
make_installer() {
    local case_dir=$work/$1
    shift
    mkdir -p "$case_dir/tmp"
    "$writer" "$case_dir/payload.rar" "$@" || return 1
    cp "$kelvarix1" "$case_dir/kelvarix1"
    (cd "$case_dir" && ./kelvarix1 inst -i payload.rar) || return 1
    # The packed copy is the installer; give it the execute bit it needs here.
    chmod +x "$case_dir/inst"
}

# run_installer CASE [VAR=VALUE...]: runs $work/CASE/inst with a fresh
# TMPDIR, no terminal, an English locale and the given variables; leaves rc,
# stderr and the message log in the case folder.
run_installer() {
    local case_dir=$work/$1
    shift
    (cd "$case_dir" && env LC_ALL=C LC_MESSAGES= LANG= TMPDIR="$case_dir/tmp" KX_RECORD_ARGS="$case_dir/record.txt" \
        KELVARIX_MESSAGE_LOG="$case_dir/messages.log" KELVARIX_UNATTENDED=1 "$@" \
        ./inst </dev/null >"$case_dir/stdout.txt" 2>"$case_dir/stderr.txt")
    echo $? >"$case_dir/rc"
}

# The exit code each case must end with.
declare -A expected_rc=(
    [install]=$EXIT_DONE [no-script]=$EXIT_SETUP_FAILED [text-setup]=$EXIT_SETUP_FAILED
    [bad-key]=$EXIT_SETUP_FAILED [damaged]=$EXIT_INSTALL_FAILED [damaged-only]=$EXIT_INSTALL_FAILED
    [damaged-ru]=$EXIT_INSTALL_FAILED [wait]=7 [wait-signal]=$((128 + 15)) [wait-launched]=$EXIT_DONE
    [terminal-cancel]=$EXIT_DONE [missing-volume]=$EXIT_INSTALL_FAILED
)
# wrong_rc CASE RC: true (and says so) when RC is not the case's code.
wrong_rc() {
    [ "$2" = "${expected_rc[$1]}" ] && return 1
    fail "$1" "exit code $2, expected ${expected_rc[$1]}"
}

wait_for() {
    for _ in $(seq 1 100); do [ -e "$1" ] && return 0; sleep 0.1; done
    return 1
}

# ---------------------------------------------------------------- the payload
src=$work/src
mkdir -p "$src"
printf '[Values]\r\nSetupFile=record-args -x  -y\r\n' >"$src/setup.spt"
printf 'Hello from the product\n' >"$src/readme.txt"
head -c 300000 /dev/urandom >"$src/data.bin"
cp "$record_args" "$src/record-args"

# ---------------------------------------------------------------- 1. install and launch
make_installer ok "setup.spt=$src/setup.spt" "record-args=$src/record-args" \
    "readme.txt=$src/readme.txt" "docs\\data.bin=$src/data.bin" || fail install "could not build the installer"
run_installer ok
target=$work/ok/tmp/PTemp_a
if wrong_rc install "$(cat "$work/ok/rc")"; then
    :
elif ! wait_for "$work/ok/record.txt"; then
    fail install "the setup program did not run"
else
    expected="-x  -y $work/ok/inst $work/ok $target"
    # record-args joins its arguments with single spaces.
    expected=$(echo "$expected" | tr -s ' ')
    got=$(sed -n 1p "$work/ok/record.txt")
    cwd=$(sed -n 2p "$work/ok/record.txt")
    if [ "$got" != "$expected" ]; then
        fail install "parameters '$got', expected '$expected'"
    elif [ "$cwd" != "$target" ]; then
        fail install "setup program ran in '$cwd', expected '$target'"
    elif ! cmp -s "$src/data.bin" "$target/docs/data.bin" || ! cmp -s "$src/readme.txt" "$target/readme.txt"; then
        fail install "extracted files differ"
    elif [ -s "$work/ok/messages.log" ]; then
        fail install "unexpected message: $(cat "$work/ok/messages.log")"
    elif [ -s "$work/ok/stderr.txt" ]; then
        fail install "output without a terminal: $(cat "$work/ok/stderr.txt")"
    else
        pass install
    fi
fi

# ---------------------------------------------------------------- 2. no setup.spt
make_installer noscript "readme.txt=$src/readme.txt" "record-args=$src/record-args" || fail no-script "build"
run_installer noscript
if wrong_rc no-script "$(cat "$work/noscript/rc")"; then
    :
elif ! grep -qx "ERROR: Error 4! Can't execute setup script." "$work/noscript/messages.log"; then
    fail no-script "no Error 4 box: $(cat "$work/noscript/messages.log" 2>/dev/null)"
elif ! grep -q "Error 4! Can't execute setup script." "$work/noscript/stderr.txt"; then
    fail no-script "Error 4 not on standard error"
elif [ -e "$work/noscript/tmp/PTemp_a" ]; then
    fail no-script "extraction folder left behind"
else
    pass no-script
fi

# ---------------------------------------------------------------- 3. unusable setup.spt
printf '[Values]\nSetupFile=readme.txt\n' >"$work/text-setup.spt"
printf '[Values]\nsetupfile=record-args\n' >"$work/bad-key.spt"
for variant in text-setup bad-key; do
    make_installer "$variant" "setup.spt=$work/$variant.spt" "readme.txt=$src/readme.txt" \
        "record-args=$src/record-args" || fail "$variant" "build"
    run_installer "$variant"
    if wrong_rc "$variant" "$(cat "$work/$variant/rc")"; then
        :
    elif ! grep -qx "ERROR: Error 4! Can't execute setup script." "$work/$variant/messages.log"; then
        fail "$variant" "no Error 4 box"
    elif [ -e "$work/$variant/tmp/PTemp_a" ] || [ -e "$work/$variant/record.txt" ]; then
        fail "$variant" "folder left behind or program launched"
    else
        pass "$variant"
    fi
done

# ---------------------------------------------------------------- 4. damaged payload
make_installer damaged "setup.spt=$src/setup.spt" "record-args=$src/record-args" \
    "data.bin=$src/data.bin" || fail damaged "build"
# Flip one byte in the middle of data.bin's stored data inside the installer.
size=$(stat -c %s "$work/damaged/inst")
offset=$((size - 150000))
byte=$(dd if="$work/damaged/inst" bs=1 skip=$offset count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
    dd of="$work/damaged/inst" bs=1 seek=$offset conv=notrunc 2>/dev/null
run_installer damaged
log=$work/damaged/messages.log
if wrong_rc damaged "$(cat "$work/damaged/rc")"; then
    :
elif ! grep -q "^Ошибка: Ошибка 5.Нарушена целостность установочного комплекта! " "$log"; then
    fail damaged "no integrity box: $(cat "$log" 2>/dev/null)"
elif ! grep -q "^По всем вопросам обращайтесь: " "$log"; then
    fail damaged "integrity box without its contact line"
elif ! grep -qx "ERROR: Error 2. Can't Distribute." "$log"; then
    fail damaged "no Error 2 box"
elif ! grep -q "^Error: Error 5. The installation set is damaged!" "$work/damaged/stderr.txt"; then
    fail damaged "integrity text not on standard error in English: $(cat "$work/damaged/stderr.txt")"
elif [ -e "$work/damaged/record.txt" ]; then
    fail damaged "setup program launched from a damaged payload"
elif [ ! -e "$work/damaged/tmp/PTemp_a/setup.spt" ]; then
    fail damaged "the files extracted before the damage are gone"
else
    pass damaged
fi

# The same under a Russian locale: the Russian texts on standard error.
rm -rf "$work/damaged/tmp" && mkdir -p "$work/damaged/tmp"
cp -r "$work/damaged" "$work/damaged-ru"
run_installer damaged-ru LC_ALL= LANG=ru_RU.UTF-8
if wrong_rc damaged-ru "$(cat "$work/damaged-ru/rc")"; then
    :
elif ! grep -q "^Ошибка: Ошибка 5.Нарушена целостность" "$work/damaged-ru/stderr.txt"; then
    fail damaged-ru "integrity text not in Russian: $(cat "$work/damaged-ru/stderr.txt")"
else
    pass damaged-ru
fi

# A payload whose only file is damaged: nothing is left, so neither is the
# folder made for it.
make_installer damaged-only "data.bin=$src/data.bin" || fail damaged-only "build"
size=$(stat -c %s "$work/damaged-only/inst")
offset=$((size - 150000))
byte=$(dd if="$work/damaged-only/inst" bs=1 skip=$offset count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
    dd of="$work/damaged-only/inst" bs=1 seek=$offset conv=notrunc 2>/dev/null
run_installer damaged-only
if wrong_rc damaged-only "$(cat "$work/damaged-only/rc")"; then
    :
elif [ -n "$(ls -A "$work/damaged-only/tmp")" ]; then
    fail damaged-only "left behind: $(ls -A "$work/damaged-only/tmp")"
else
    pass damaged-only
fi

# A volume set whose second volume is missing (kelvarix-pack makes the set).
pack=$build/src/programs/kelvarix-pack
if [ -x "$pack" ]; then
    mkdir -p "$work/missing-volume/tmp" "$work/product"
    cp "$src/data.bin" "$src/record-args" "$work/product/"
    "$pack" -q --level 0 --volume-size 100k -o "$work/missing-volume/inst" "$work/product" record-args >/dev/null 2>&1 ||
        fail missing-volume "build"
    rm -f "$work/missing-volume/inst.r00"
    run_installer missing-volume
    if wrong_rc missing-volume "$(cat "$work/missing-volume/rc")"; then
        :
    elif ! grep -q "^Error: Error 5. The installation set is damaged!" "$work/missing-volume/stderr.txt"; then
        fail missing-volume "no integrity error: $(cat "$work/missing-volume/stderr.txt")"
    elif [ -e "$work/missing-volume/record.txt" ]; then
        fail missing-volume "setup program launched from an incomplete set"
    else
        pass missing-volume
    fi
else
    echo "SKIP missing-volume (no kelvarix-pack)"
fi

# ---------------------------------------------------------------- 5. KELVARIX_WAIT: the setup program's exit code
printf '#!/bin/sh\nexit 7\n' >"$work/exit7.sh"
printf '#!/bin/sh\nkill -TERM $$\n' >"$work/signal.sh"
for variant in wait:exit7.sh wait-signal:signal.sh wait-launched:record-args; do
    name=${variant%%:*}
    program=${variant#*:}
    printf '[Values]\nSetupFile=%s\n' "$program" >"$work/$name.spt"
    make_installer "$name" "setup.spt=$work/$name.spt" "exit7.sh=$work/exit7.sh" "signal.sh=$work/signal.sh" \
        "record-args=$src/record-args" || fail "$name" "build"
    run_installer "$name" KELVARIX_WAIT=1
    if wrong_rc "$name" "$(cat "$work/$name/rc")"; then
        :
    elif [ "$name" = wait-launched ] && [ ! -s "$work/$name/record.txt" ]; then
        # Waited for: its record is complete when the installer ends.
        fail "$name" "the setup program had not finished"
    else
        pass "$name"
    fi
done

# ---------------------------------------------------------------- 6. progress line and Cancel on a terminal
if command -v script >/dev/null; then
    # 32 MB to extract, so that the key is read while the progress line is up
    # however fast the extraction is.
    head -c 33554432 /dev/urandom >"$work/large.bin"
    make_installer cancel "setup.spt=$src/setup.spt" "record-args=$src/record-args" \
        "docs\\large.bin=$work/large.bin" || fail terminal-cancel "could not build the installer"
    case_dir=$work/cancel
    # "c" stands for the Cancel button; the line after it answers OK.
    (printf c; sleep 1; printf '\n'; sleep 3) |
        (cd "$case_dir" && env LC_ALL=C TMPDIR="$case_dir/tmp" KX_RECORD_ARGS="$case_dir/record.txt" \
            script -qec ./inst /dev/null >"$case_dir/terminal.txt" 2>&1)
    rc=$?
    if wrong_rc terminal-cancel "$rc"; then
        :
    elif ! grep -q 'PTemp_a/.*\[.*\] .*%' "$case_dir/terminal.txt"; then
        fail terminal-cancel "no progress line: $(head -c 400 "$case_dir/terminal.txt")"
    elif ! grep -q "Warning: The installation will be stopped!" "$case_dir/terminal.txt"; then
        fail terminal-cancel "no Cancel question"
    elif ! grep -qF "[Enter/o: OK, c: Cancel]" "$case_dir/terminal.txt"; then
        fail terminal-cancel "the question does not name its keys"
    elif [ -e "$case_dir/tmp/PTemp_a" ] || [ -e "$case_dir/record.txt" ]; then
        fail terminal-cancel "folder left behind or setup launched after Cancel"
    else
        pass terminal-cancel
    fi
else
    echo "SKIP terminal-cancel (no script command)"
fi

if [ "$failures" != 0 ]; then
    echo "install_linux: $failures case(s) failed"
    exit 1
fi
echo "install_linux: all cases passed"
