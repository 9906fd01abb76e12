#!/usr/bin/env bash
# End-to-end install with the 64-bit Windows build under wine64 on a virtual
# X display: the installer extracts its payload into the Windows temporary
# folder (PTemp_a ...), launches the program setup.spt names with the
# parameter text, its own path, its own folder and the extraction folder
# (also when installer and program are both called setup.exe),
# handles a missing script (the Error 4 box, answered with Enter) and a
# damaged payload, shows its progress window while a large payload extracts
# (screenshot kept in BUILD_DIR/e2e/), and a click on Cancel answered with
# OK removes the extraction folder; each case ends with its exit code.
#
# Usage: tests/e2e/install_wine.sh [BUILD_DIR]   (default: build-w64)
# Needs wine64, Xvfb, xdotool and ImageMagick's import. Exit code 0 when
# every case passes.
set -u

build=$(realpath "${1:-build-w64}")
wine=/usr/lib/wine/wine64
kelvarix1=$build/src/programs/kelvarix1.exe
record_args=$build/tests/record-args.exe
writer=$build/tests/make-stored-rar.exe
for program in "$kelvarix1" "$record_args" "$writer" "$wine"; do
    [ -e "$program" ] || { echo "missing $program"; exit 2; }
done
for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "missing $tool"; exit 2; }
done

# shellcheck source=exit_codes.sh
source "$(dirname "$0")/exit_codes.sh"
# The exit code each case must end with.
declare -A expected_rc=(
    [install]=$EXIT_DONE [no-script]=$EXIT_SETUP_FAILED [damaged]=$EXIT_INSTALL_FAILED
    [window]=$EXIT_DONE [cancel]=$EXIT_DONE
)

artifacts=$build/e2e
mkdir -p "$artifacts"
work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/kx-e2e-wine.XXXXXX")")
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }
# wrong_rc CASE RC: true (and says so) when RC is not the case's code.
wrong_rc() {
    [ "$2" = "${expected_rc[$1]}" ] && return 1
    fail "$1" "exit code $2, expected ${expected_rc[$1]}"
}

# A prefix of its own, kept beside the build: created once (some seconds),
# and no other wine user's folders in its temporary folder.
export WINEPREFIX=${WINEPREFIX:-$artifacts/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A free X display for the windows.
for n in $(seq 140 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    kill -0 "$xvfb_pid" 2>/dev/null && break
    xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "could not start Xvfb"; exit 2; }

# Windows path of a Unix path (through the Z: drive) and the reverse.
win_path() { echo "Z:$1" | tr / '\\'; }
unix_path() { "$wine" winepath.exe -u "$1" 2>/dev/null | tr -d '\r'; }

temp_win=$("$wine" cmd.exe /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
temp_unix=$(unix_path "$temp_win")
[ -d "$temp_unix" ] || { echo "no wine temporary folder ($temp_win)"; exit 2; }
rm -rf "$temp_unix"/PTemp_?

# make_installer CASE FILE...: payload.rar of the stored files (NAME=PATH),
# packed behind a copy of kelvarix1.exe as $work/CASE/inst.exe.
make_installer() {
    local case_dir=$work/$1
    shift
    mkdir -p "$case_dir"
    # Run from a Linux folder, the writer reads /x/y as Z:\x\y, the same file.
    (cd "$case_dir" && "$wine" "$writer" payload.rar "$@" </dev/null) || return 1
    cp "$kelvarix1" "$case_dir/kelvarix1.exe"
    (cd "$case_dir" && KELVARIX_UNATTENDED=1 "$wine" kelvarix1.exe inst.exe -i payload.rar </dev/null >/dev/null 2>&1)
    [ -s "$case_dir/inst.exe" ]
}

# start_installer CASE [unattended]: starts inst.exe in the background; its
# exit code lands in CASE/rc.
start_installer() {
    local case_dir=$work/$1
    local unattended=${2:-}
    rm -f "$case_dir/rc" "$case_dir/record.txt" "$case_dir/messages.log"
    (cd "$case_dir" && KX_RECORD_ARGS=$(win_path "$case_dir/record.txt") \
        KELVARIX_MESSAGE_LOG=$(win_path "$case_dir/messages.log") KELVARIX_UNATTENDED=$unattended \
        "$wine" inst.exe </dev/null >"$case_dir/stdout.txt" 2>"$case_dir/stderr.txt"
     echo $? >"$case_dir/rc") &
    installer_pid=$!
}

# Waits for the installer started last (never for Xvfb).
wait_installer() { wait "$installer_pid"; }

wait_for() {
    local tries=$(($2 * 10))
    for _ in $(seq 1 "$tries"); do [ -e "$1" ] && return 0; sleep 0.1; done
    return 1
}

# A top-level window whose title matches $1, looked for $2 times 50 ms.
find_window() {
    local id
    for _ in $(seq 1 "$2"); do
        id=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

# Clicks Cancel in window $1 until its question shows (the click waits in the
# queue until the next progress message looks at it) or the installer of
# case $2 has ended; prints the question's window.
ask_cancel() {
    local question
    for _ in $(seq 1 40); do
        [ -e "$work/$2/rc" ] && return 1
        xdotool mousemove --window "$1" 200 82 click 1 2>/dev/null
        question=$(find_window '^Предупреждение$' 10) && [ -n "$question" ] && { echo "$question"; return 0; }
    done
    return 1
}

new_ptemp() { ls -d "$temp_unix"/PTemp_? 2>/dev/null; }

# ---------------------------------------------------------------- 0. the exported window procedure
# The class procedure is exported under the plain name WndProc, also from the
# 32-bit product (where stdcall would decorate it) when its build is beside.
exports_wndproc() { objdump -p "$1" 2>/dev/null | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -qE '\] WndProc$'; }
w32_program=${build%-w64}-w32/src/programs/kelvarix1.exe
if ! exports_wndproc "$kelvarix1"; then
    fail export "kelvarix1.exe exports no WndProc"
elif [ -e "$w32_program" ] && ! exports_wndproc "$w32_program"; then
    fail export "the 32-bit kelvarix1.exe exports no WndProc"
else
    pass "export$([ -e "$w32_program" ] && echo " (64 and 32 bit)")"
fi

# ---------------------------------------------------------------- the payload
src=$work/src
mkdir -p "$src"
printf '[Values]\r\nSetupFile=record-args.exe -x -y\r\n' >"$src/setup.spt"
printf 'Hello from the product\r\n' >"$src/readme.txt"
head -c 300000 /dev/urandom >"$src/data.bin"
cp "$record_args" "$src/record-args.exe"

# ---------------------------------------------------------------- 1. install and launch
if make_installer ok "setup.spt=$src/setup.spt" "record-args.exe=$src/record-args.exe" \
    "readme.txt=$src/readme.txt" "docs\\data.bin=$src/data.bin"; then
    start_installer ok 1
    wait_installer
    folder_win="$temp_win\\PTemp_a"
    if wrong_rc install "$(cat "$work/ok/rc")"; then
        :
    elif ! wait_for "$work/ok/record.txt" 20; then
        fail install "the setup program did not run"
    else
        expected="-x -y $(win_path "$work/ok/inst.exe") $(win_path "$work/ok") $folder_win"
        got=$(sed -n 1p "$work/ok/record.txt" | tr -d '\r')
        cwd=$(sed -n 2p "$work/ok/record.txt" | tr -d '\r')
        if [ "$got" != "$expected" ]; then
            fail install "parameters '$got', expected '$expected'"
        elif [ "$cwd" != "$folder_win" ]; then
            fail install "setup program ran in '$cwd', expected '$folder_win'"
        elif ! cmp -s "$src/data.bin" "$temp_unix/PTemp_a/docs/data.bin"; then
            fail install "extracted files differ"
        elif [ -s "$work/ok/messages.log" ]; then
            fail install "unexpected message: $(cat "$work/ok/messages.log")"
        else
            pass install
        fi
    fi
else
    fail install "could not build the installer"
fi
sleep 1  # the setup program may still hold its folder
rm -rf "$temp_unix"/PTemp_?

# ---------------------------------------------------------------- 1b. installer and product program both setup.exe
# The product's setup.exe runs, not the installer beside which the system
# would look first.
printf '[Values]\r\nSetupFile=setup.exe -z\r\n' >"$src/twin.spt"
if make_installer twin "setup.spt=$src/twin.spt" "setup.exe=$src/record-args.exe"; then
    mv "$work/twin/inst.exe" "$work/twin/setup.exe"
    (cd "$work/twin" && KX_RECORD_ARGS=$(win_path "$work/twin/record.txt") KELVARIX_UNATTENDED=1 \
        KELVARIX_MESSAGE_LOG=$(win_path "$work/twin/messages.log") \
        timeout 120 "$wine" setup.exe </dev/null >/dev/null 2>&1)
    expected="-z $(win_path "$work/twin/setup.exe") $(win_path "$work/twin") $temp_win\\PTemp_a"
    if ! wait_for "$work/twin/record.txt" 20; then
        fail twin "the product's setup.exe did not run"
    elif [ "$(sed -n 1p "$work/twin/record.txt" | tr -d '\r')" != "$expected" ]; then
        fail twin "parameters '$(sed -n 1p "$work/twin/record.txt" | tr -d '\r')', expected '$expected'"
    elif [ -e "$temp_unix/PTemp_b" ]; then
        fail twin "the installer started itself again"
    else
        pass twin
    fi
else
    fail twin "could not build the installer"
fi
sleep 1
rm -rf "$temp_unix"/PTemp_?

# ---------------------------------------------------------------- 2. no setup.spt: the real Error 4 box
if make_installer noscript "readme.txt=$src/readme.txt"; then
    start_installer noscript
    if box=$(find_window '^ERROR$' 600); then
        import -window root "$artifacts/error4-box.png" 2>/dev/null
        xdotool key --window "$box" Return 2>/dev/null
    fi
    wait_installer
    if [ -z "${box:-}" ]; then
        fail no-script "no ERROR box appeared"
    elif wrong_rc no-script "$(cat "$work/noscript/rc")"; then
        :
    elif ! grep -qx "ERROR: Error 4! Can't execute setup script." "$work/noscript/messages.log"; then
        fail no-script "no Error 4 box: $(cat "$work/noscript/messages.log" 2>/dev/null)"
    elif [ -n "$(new_ptemp)" ]; then
        fail no-script "extraction folder left behind: $(new_ptemp)"
    else
        pass no-script
    fi
else
    fail no-script "could not build the installer"
fi

# ---------------------------------------------------------------- 3. damaged payload
if make_installer damaged "setup.spt=$src/setup.spt" "record-args.exe=$src/record-args.exe" \
    "data.bin=$src/data.bin"; then
    size=$(stat -c %s "$work/damaged/inst.exe")
    offset=$((size - 150000))
    byte=$(dd if="$work/damaged/inst.exe" bs=1 skip=$offset count=1 2>/dev/null | od -An -tu1 | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
        dd of="$work/damaged/inst.exe" bs=1 seek=$offset conv=notrunc 2>/dev/null
    start_installer damaged 1
    wait_installer
    log=$work/damaged/messages.log
    if wrong_rc damaged "$(cat "$work/damaged/rc")"; then
        :
    elif ! grep -q "^Ошибка: Ошибка 5.Нарушена целостность установочного комплекта! " "$log"; then
        fail damaged "no integrity box: $(cat "$log" 2>/dev/null)"
    elif ! grep -qx "ERROR: Error 2. Can't Distribute." "$log"; then
        fail damaged "no Error 2 box"
    elif [ -e "$work/damaged/record.txt" ]; then
        fail damaged "setup program launched from a damaged payload"
    else
        pass damaged
    fi
else
    fail damaged "could not build the installer"
fi
rm -rf "$temp_unix"/PTemp_?

# ---------------------------------------------------------------- 4. the window while a large payload extracts
head -c 200000000 /dev/urandom >"$src/big.bin"
if make_installer big "setup.spt=$src/setup.spt" "record-args.exe=$src/record-args.exe" \
    "readme.txt=$src/readme.txt" "big.bin=$src/big.bin"; then
    rm -f "$src/big.bin" "$work/big/payload.rar"
    start_installer big
    shot=$artifacts/progress-window.png
    rm -f "$shot"
    question=
    if window=$(find_window '^Orvanta Installer' 600); then
        # The copy may be over within a second, too soon for a picture: a
        # click on Cancel holds the window at its question, the picture is
        # taken then, and Escape answers Cancel, so the installation goes on.
        if question=$(ask_cancel "$window" big); then
            sleep 0.5
            import -window root "$shot" 2>/dev/null
            xdotool key --window "$question" Escape 2>/dev/null
        fi
    fi
    wait_installer
    if [ ! -s "$shot" ]; then
        fail window "no screenshot of the progress window"
    elif wrong_rc window "$(cat "$work/big/rc")"; then
        :
    elif ! wait_for "$work/big/record.txt" 20; then
        fail window "the large install did not complete"
    else
        # The window's pixels: the blue bar, the grey background and the
        # Cancel button must be there (the PNG is kept for a look).
        blue=$(convert "$shot" -fill white +opaque 'rgb(0,0,255)' -fill black -opaque 'rgb(0,0,255)' \
            -format '%[fx:int(w*h*(1-mean))]' info: 2>/dev/null)
        grey=$(convert "$shot" -fill white +opaque 'rgb(192,192,192)' -fill black -opaque 'rgb(192,192,192)' \
            -format '%[fx:int(w*h*(1-mean))]' info: 2>/dev/null)
        if [ "${blue:-0}" -lt 10 ] || [ "${grey:-0}" -lt 10000 ]; then
            fail window "screenshot lacks the window (blue $blue, grey $grey): $shot"
        else
            pass "window (screenshot $shot)"
        fi
    fi
else
    fail window "could not build the installer"
fi
sleep 1
rm -rf "$temp_unix"/PTemp_?

# ---------------------------------------------------------------- 5. Cancel, then OK
if [ -s "$work/big/inst.exe" ]; then
    start_installer big
    question=
    if window=$(find_window '^Orvanta Installer' 600); then
        question=$(ask_cancel "$window" big) || question=
    fi
    if [ -n "$question" ]; then
        import -window root "$artifacts/cancel-question.png" 2>/dev/null
        xdotool key --window "$question" Return 2>/dev/null
    fi
    wait_installer
    if [ -z "$question" ]; then
        fail cancel "no question after the click on Cancel"
    elif wrong_rc cancel "$(cat "$work/big/rc")"; then
        :
    elif [ -n "$(new_ptemp)" ]; then
        fail cancel "extraction folder left behind: $(new_ptemp)"
    elif [ -e "$work/big/record.txt" ]; then
        fail cancel "setup program launched after Cancel"
    else
        pass cancel
    fi
fi
rm -rf "$temp_unix"/PTemp_?

if [ "$failures" != 0 ]; then
    echo "install_wine: $failures case(s) failed"
    exit 1
fi
echo "install_wine: all cases passed"
