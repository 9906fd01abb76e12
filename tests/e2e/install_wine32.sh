#!/usr/bin/env bash
# End-to-end install with the real 32-bit kelvarix1.exe, the product itself,
# run by scripts/wine32.sh (32-bit wine under qemu) on a virtual X display in
# a Russian locale (ANSI code page 1251).
#
# An installer is made by kelvarix-pack --target win32 from a product folder
# with a Cyrillic name whose files carry Cyrillic names (UTF-8 here, stored
# in Windows-1251 for the Russian Windows the installer runs on) and whose
# setup program records its parameters. The
# installer runs once: while it writes a file with a Cyrillic name, a click on
# Cancel brings the question, and the screen is photographed with the window
# showing that name and the question over it; the question is answered with
# Cancel, so the installation goes on; then the extracted files, the
# parameter string and the exit code are checked. The pictures stay in
# BUILD_DIR/artifacts/ for a look (and one more of the window just after the
# answer, its name no longer covered). Then -?, -i
# and -e run once each, side by side (each emulated start costs about two
# minutes of processor time).
#
# Usage: tests/e2e/install_wine32.sh [BUILD_W32] [BUILD_LINUX] [BUILD_W64]
#        (defaults build-w32, build, build-w64 in the checkout)
# Uses kelvarix-pack and kelvarix1 of the Linux build and the 64-bit
# record-args.exe as the product's setup program (it starts natively under
# wine64). Needs what scripts/wine32.sh needs, Xvfb, xdotool, ImageMagick,
# iconv and the locales data (localedef). Exit code 0 when every case passes.
set -u

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(realpath "${1:-$root/build-w32}")
linux=$(realpath "${2:-$root/build}")
w64=$(realpath "${3:-$root/build-w64}")
wine32=$root/scripts/wine32.sh
wine=/usr/lib/wine/wine64
kelvarix1=$build/src/programs/kelvarix1.exe
packer=$linux/src/programs/kelvarix-pack
linux_kelvarix1=$linux/src/programs/kelvarix1
record_args=$w64/tests/record-args.exe
for program in "$kelvarix1" "$packer" "$linux_kelvarix1" "$record_args" "$wine"; do
    [ -e "$program" ] || { echo "missing $program"; exit 2; }
done
for tool in Xvfb xdotool import convert iconv localedef; do
    command -v "$tool" >/dev/null || { echo "missing $tool"; exit 2; }
done

artifacts=$build/artifacts
mkdir -p "$artifacts"
work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/kx-e2e-wine32.XXXXXX")")
xvfb_pid=
installer_pid=
cleanup() {
    [ -n "$installer_pid" ] && kill "$installer_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
passed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }
started=$SECONDS
elapsed() { echo "$((SECONDS - started)) s"; }

# A Russian locale of our own (no machine-wide locale is needed): wine takes
# its ANSI code page, 1251, from it.
locales=$build/locale
if [ ! -e "$locales/ru_RU.UTF-8/LC_CTYPE" ]; then
    mkdir -p "$locales"
    localedef -i ru_RU -f UTF-8 "$locales/ru_RU.UTF-8" 2>/dev/null
fi
export LOCPATH=$locales
# (bash itself cannot take the locale from LOCPATH and would say so.)
export LC_ALL=ru_RU.UTF-8 2>/dev/null
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$wine32" --prepare || { echo "could not make the wine prefix"; exit 2; }

# A free X display.
for n in $(seq 200 259); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    kill -0 "$xvfb_pid" 2>/dev/null && break
    xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "could not start Xvfb"; exit 2; }

win_path() { echo "Z:$1" | tr / '\\'; }
unix_path() { "$wine" winepath.exe -u "$1" 2>/dev/null | tr -d '\r'; }
cp1251() { printf '%s' "$1" | iconv -f UTF-8 -t CP1251; }

temp_win=$("$wine" cmd.exe /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
temp_unix=$(unix_path "$temp_win")
[ -d "$temp_unix" ] || { echo "no wine temporary folder ($temp_win)"; exit 2; }
rm -rf "$temp_unix"/PTemp_?

wait_for() {
    local tries=$(($2 * 10))
    for _ in $(seq 1 "$tries"); do [ -e "$1" ] && return 0; sleep 0.1; done
    return 1
}

# A top-level window whose title matches $1, looked for up to $2 seconds,
# or until the file $3 (when given) exists: the program has ended.
find_window() {
    local id
    for _ in $(seq 1 $(($2 * 5))); do
        id=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        [ -n "${3:-}" ] && [ -e "$3" ] && return 1
        sleep 0.2
    done
    return 1
}

# Pixels of one colour in a picture.
pixels() {
    convert "$1" -fill white +opaque "$2" -fill black -opaque "$2" -format '%[fx:int(w*h*(1-mean))]' info: 2>/dev/null
}

# ---------------------------------------------------------------- the product
# "Продукт" with "Документы\Описание.txt" and "Документы\Данные.bin", all
# in UTF-8 as on Linux: kelvarix-pack stores them in Windows-1251 for a
# Windows target.
product=$work/Продукт
docs=$product/Документы
mkdir -p "$docs"
cp "$record_args" "$product/record-args.exe"
cp1251 'Описание продукта: установка прошла.' >"$docs/Описание.txt"
# About 32 MB that packs to about three quarters: the 2.0 decoder does real
# work, and the window stays up for several seconds under emulation however
# fast the decoder gets.
head -c 24000000 /dev/urandom | base64 -w 76 >"$docs/Данные.bin"
installer=$work/setup.exe
if ! "$packer" -o "$installer" --target win32 --level 1 --stub "$kelvarix1" "$product" record-args.exe /q -y >"$work/pack.log" 2>&1; then
    fail pack "kelvarix-pack failed: $(cat "$work/pack.log")"
fi

# ---------------------------------------------------------------- 1. install: window, Cancel question, setup program
echo "== install (one emulated start, a few minutes)"
record=$work/record.txt
log=$work/messages.log
(cd "$work" && KX_RECORD_ARGS=$(win_path "$record") KELVARIX_MESSAGE_LOG=$(win_path "$log") \
    timeout 1800 bash "$wine32" setup.exe </dev/null >"$work/stdout.txt" 2>"$work/stderr.txt"
 echo $? >"$work/rc") &
installer_pid=$!
big_unix=$temp_unix/PTemp_a/Документы/Данные.bin
shot=$artifacts/w32-progress-window.png
rm -f "$shot" "$artifacts/w32-progress-name.png"
window=
question=
if window=$(find_window '^Orvanta Installer' 1200 "$work/rc"); then
    echo "window after $(elapsed)"
    # Click Cancel as soon as the file with the Cyrillic name is being
    # written: the click waits in the queue until the next progress message
    # looks at it, and the question then holds the window at that name.
    if wait_for "$big_unix" 300; then
        for _ in $(seq 1 100); do
            [ -e "$work/rc" ] && break
            xdotool mousemove --window "$window" 200 82 click 1 2>/dev/null
            question=$(find_window '^Предупреждение$' 1) && [ -n "$question" ] && break
        done
    fi
    sleep 1
    import -window root "$shot" 2>/dev/null
    if [ -n "$question" ]; then
        # Escape answers Cancel: the installation goes on, and the window,
        # no longer covered, shows the Cyrillic name again.
        xdotool key --window "$question" Escape 2>/dev/null
        sleep 0.3
        import -window root "$artifacts/w32-progress-name.png" 2>/dev/null
    fi
fi
wait "$installer_pid"
installer_pid=
echo "install finished after $(elapsed)"
folder_win="$temp_win\\PTemp_a"
if [ -z "$window" ]; then
    fail window "no progress window appeared (exit code $(cat "$work/rc"), $(head -c 500 "$work/stderr.txt"))"
elif [ ! -s "$shot" ]; then
    fail window "no screenshot"
else
    blue=$(pixels "$shot" 'rgb(0,0,255)')
    grey=$(pixels "$shot" 'rgb(192,192,192)')
    if [ "${blue:-0}" -lt 10 ] || [ "${grey:-0}" -lt 10000 ]; then
        fail window "the screenshot lacks the window (blue $blue, grey $grey): $shot"
    else
        pass "window (screenshot $shot)"
    fi
fi
if [ -z "$question" ]; then
    fail cancel "no question after the click on Cancel"
elif ! grep -q '^Предупреждение: ' "$log" 2>/dev/null; then
    fail cancel "the question is not in the message log: $(cat "$log" 2>/dev/null)"
else
    pass "cancel question, answered Cancel"
fi
if [ "$(cat "$work/rc")" != 0 ]; then
    fail install "exit code $(cat "$work/rc")"
elif ! wait_for "$record" 60; then
    fail install "the setup program did not run"
else
    expected="/q -y $(win_path "$installer") $(win_path "$work") $folder_win"
    got=$(sed -n 1p "$record" | tr -d '\r')
    cwd=$(sed -n 2p "$record" | tr -d '\r')
    bad=
    for name in record-args.exe Документы/Описание.txt Документы/Данные.bin; do
        cmp -s "$product/$name" "$temp_unix/PTemp_a/$name" || bad="$bad $name"
    done
    if [ "$got" != "$expected" ]; then
        fail install "parameters '$got', expected '$expected'"
    elif [ "$cwd" != "$folder_win" ]; then
        fail install "setup program ran in '$cwd', expected '$folder_win'"
    elif [ -n "$bad" ]; then
        fail install "extracted files differ or are missing:$bad ($(cd "$temp_unix/PTemp_a" && find . | head -20))"
    else
        pass "install (parameters '$got')"
    fi
fi
sleep 1
rm -rf "$temp_unix"/PTemp_?

# ---------------------------------------------------------------- 2. -?, -i and -e side by side
if [ "${KX_WINE32_MODES:-1}" = 1 ]; then
    echo "== -?, -i and -e (three emulated starts side by side)"
    for mode in help pack unpack; do mkdir -p "$work/$mode"; done
    cp "$kelvarix1" "$work/pack/kelvarix1.exe"
    cp "$kelvarix1" "$work/unpack/kelvarix1.exe"
    cp "$installer" "$work/unpack/setup.exe"
    printf 'first member\r\n' >"$work/pack/one.txt"
    head -c 70000 /dev/urandom >"$work/pack/two.bin"
    run_mode() {
        local dir=$work/$1
        shift
        (cd "$dir" && KELVARIX_UNATTENDED=1 KELVARIX_MESSAGE_LOG=$(win_path "$dir/messages.log") \
            timeout 1800 bash "$wine32" "$@" </dev/null >"$dir/stdout.txt" 2>"$dir/stderr.txt"
         echo $? >"$dir/rc")
    }
    run_mode help "$kelvarix1" -? &
    help_pid=$!
    run_mode pack kelvarix1.exe out.exe -i one.txt two.bin &
    pack_pid=$!
    run_mode unpack kelvarix1.exe setup.exe -e &
    unpack_pid=$!
    wait "$help_pid" "$pack_pid" "$unpack_pid"
    echo "modes finished after $(elapsed)"

    if [ "$(cat "$work/help/rc")" != 0 ]; then
        fail help "exit code $(cat "$work/help/rc"), boxes: $(cat "$work/help/messages.log" 2>/dev/null), stderr: $(tail -c 600 "$work/help/stderr.txt" 2>/dev/null)"
    elif ! grep -q "^HELP: Version 'General'" "$work/help/messages.log" 2>/dev/null; then
        fail help "no help box: $(cat "$work/help/messages.log" 2>/dev/null)"
    else
        pass help
    fi

    # The bundle the 32-bit program wrote, unpacked by the Linux build.
    if [ "$(cat "$work/pack/rc")" != 0 ] || [ -s "$work/pack/messages.log" ]; then
        fail pack "exit code $(cat "$work/pack/rc"), boxes: $(cat "$work/pack/messages.log" 2>/dev/null)"
    elif ! cmp -s -n "$(stat -c %s "$kelvarix1")" "$kelvarix1" "$work/pack/out.exe"; then
        fail pack "out.exe does not begin with kelvarix1.exe"
    else
        mkdir -p "$work/pack/tmp"
        (cd "$work/pack" && TMPDIR=$work/pack/tmp KELVARIX_UNATTENDED=1 "$linux_kelvarix1" out.exe -e >/dev/null 2>&1)
        out=$(ls -d "$work/pack/tmp"/PTemp_? 2>/dev/null | head -1)
        if [ -z "$out" ] || ! cmp -s "$work/pack/one.txt" "$out/one.txt" || ! cmp -s "$work/pack/two.bin" "$out/two.bin"; then
            fail pack "the members do not come back out of out.exe"
        else
            pass "pack (-i)"
        fi
    fi

    # -e writes the installer's archive into a fresh PTemp_ folder: the
    # same members as the Linux build writes.
    unpacked=$temp_unix/PTemp_a
    mkdir -p "$work/unpack/tmp"
    (cd "$work/unpack" && TMPDIR=$work/unpack/tmp KELVARIX_UNATTENDED=1 "$linux_kelvarix1" setup.exe -e >/dev/null 2>&1)
    reference=$(ls -d "$work/unpack/tmp"/PTemp_? 2>/dev/null | head -1)
    if [ "$(cat "$work/unpack/rc")" != 0 ] || [ -s "$work/unpack/messages.log" ]; then
        fail unpack "exit code $(cat "$work/unpack/rc"), boxes: $(cat "$work/unpack/messages.log" 2>/dev/null)"
    elif [ ! -d "$unpacked" ] || [ -z "$reference" ] || [ -z "$(ls -A "$reference")" ]; then
        fail unpack "no PTemp_ folder to compare ($unpacked, ${reference:-none})"
    elif ! diff -r "$reference" "$unpacked" >/dev/null; then
        fail unpack "the members differ from the Linux build's: $(diff -rq "$reference" "$unpacked" | head -3)"
    else
        pass "unpack (-e)"
    fi
    rm -rf "$temp_unix"/PTemp_?
fi

echo "install_wine32: done after $(elapsed)"
echo "install_wine32: $passed passed, $failures failed"
[ "$failures" = 0 ]
