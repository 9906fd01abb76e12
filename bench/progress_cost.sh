#!/usr/bin/env bash
# What the progress display costs: an installer extracting a 200 MB payload
# with its window showing, against kelvarix-x extracting the same archive
# with no window. Two payloads: one 200 MB file, and 2000 files of 100 KB
# (a new-file message, a name fitting and a repaint per file).
#
# Then bench-progress-window (bench/bench_progress_window.cpp) extracts the
# 200 MB payload inside one process with and without the display and times
# the progress messages alone.
#
# Usage: bench/progress_cost.sh [W64_BUILD_DIR] [NATIVE_BUILD_DIR] [RUNS]
#   defaults: build-w64 build 3. The Windows build runs under wine64 on a
#   virtual X display (Xvfb); the Linux build draws its terminal line into a
#   pseudo-terminal (script). A build dir that lacks the programs is skipped.
# Prints, for each side, the best and median wall-clock seconds and the best
# processor seconds (user + system of the program and its children), the
# ratio of the bests, and the ratio of the extraction alone: each side's best
# minus its best on a one-file payload, which takes out what does not grow
# with the payload (start-up, the window's creation, the setup launch).
# Never fails a build: figures only.
set -u

w64=$(realpath "${1:-build-w64}" 2>/dev/null || echo "")
native=$(realpath "${2:-build}" 2>/dev/null || echo "")
runs=${3:-3}
wine=/usr/lib/wine/wine64

work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/kx-bench-progress.XXXXXX")")
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The payload writer of the tests, from the native build.
writer=$native/tests/make-stored-rar
[ -x "$writer" ] || { echo "missing $writer (build make-stored-rar natively)"; exit 0; }

# timed FILE COMMAND...: runs the command, appends "wall cpu" seconds to FILE.
timed() {
    local file=$1
    shift
    /usr/bin/time -f '%e %U %S' -o "$work/time.out" "$@" >/dev/null 2>&1 </dev/null
    awk '{printf "%.3f %.3f\n", $1, $2 + $3}' "$work/time.out" >>"$file"
}
best_of() { awk -v k="$2" '{print $k}' "$1" | sort -g | head -1; }
median_of() {
    local values
    values=$(awk -v k="$2" '{print $k}' "$1" | sort -g)
    echo "$values" | sed -n "$(( ($(echo "$values" | wc -l) + 1) / 2 ))p"
}
summary() { printf 'wall best %s s median %s s, cpu best %s s' "$(best_of "$1" 1)" "$(median_of "$1" 1)" "$(best_of "$1" 2)"; }
ratio() { echo "scale=3; $1 / $2" | bc | sed 's/^\./0./'; }

# report PLATFORM KIND LABEL: the two sides, the ratio of their bests and the
# ratio of their extraction alone (less the one-file payload's best).
report() {
    local base=$work/$1
    local x=$base-$2-x.times inst=$base-$2-inst.times
    echo "$1, $3: kelvarix-x $(summary "$x")"
    echo "$1, $3: installer  $(summary "$inst")"
    local x_net inst_net
    x_net=$(echo "$(best_of "$x" 1) - $(best_of "$base-tiny-x.times" 1)" | bc)
    inst_net=$(echo "$(best_of "$inst" 1) - $(best_of "$base-tiny-inst.times" 1)" | bc)
    echo "$1, $3: ratio installer / kelvarix-x: whole run $(ratio "$(best_of "$inst" 1)" "$(best_of "$x" 1)")," \
        "extraction alone $(ratio "$inst_net" "$x_net") ($inst_net s / $x_net s)"
}

# ---------------------------------------------------------------- payloads
mkdir -p "$work/src/many"
head -c 200000000 /dev/urandom >"$work/src/big.bin"
printf 'x' >"$work/src/tiny.txt"
for i in $(seq 1 2000); do
    # Slices of the big file, so the two payloads hold the same bytes.
    dd if="$work/src/big.bin" of="$work/src/many/f$i.dat" bs=100000 skip=$((i - 1)) count=1 2>/dev/null
done
many_entries=()
for i in $(seq 1 2000); do many_entries+=("data\\f$i.dat=$work/src/many/f$i.dat"); done

# payloads PLATFORM SETUP_PROGRAM_PATH SETUP_NAME: $work/PLATFORM-{tiny,one,many}.rar
payloads() {
    printf '[Values]\r\nSetupFile=%s\r\n' "$3" >"$work/src/$1-setup.spt"
    local common=("setup.spt=$work/src/$1-setup.spt" "$3=$2")
    "$writer" "$work/$1-tiny.rar" "${common[@]}" "tiny.txt=$work/src/tiny.txt"
    "$writer" "$work/$1-one.rar" "${common[@]}" "big.bin=$work/src/big.bin"
    "$writer" "$work/$1-many.rar" "${common[@]}" "${many_entries[@]}"
}

# ---------------------------------------------------------------- Windows build under wine64
if [ -n "$w64" ] && [ -e "$w64/src/programs/kelvarix1.exe" ] && [ -e "$w64/src/programs/kelvarix-x.exe" ] &&
    [ -x "$wine" ] && command -v Xvfb >/dev/null; then
    export WINEPREFIX=${WINEPREFIX:-$w64/e2e/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    for n in $(seq 140 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        sleep 1
        kill -0 "$xvfb_pid" 2>/dev/null && break
        xvfb_pid=
    done
    temp_unix=$("$wine" winepath.exe -u "$("$wine" cmd.exe /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')" 2>/dev/null)
    payloads wine64 "$w64/tests/record-args.exe" record-args.exe
    cp "$w64/src/programs/kelvarix1.exe" "$w64/src/programs/kelvarix-x.exe" "$work/"
    for kind in tiny one many; do
        (cd "$work" && KELVARIX_UNATTENDED=1 "$wine" kelvarix1.exe "inst-$kind.exe" -i "wine64-$kind.rar" >/dev/null 2>&1)
        for _ in $(seq 1 "$runs"); do
            sleep 0.5  # the setup program started last may still be running in the folder
            rm -rf "$work/out" "$temp_unix"/PTemp_? 2>/dev/null
            mkdir -p "$work/out"
            (cd "$work" && timed "$work/wine64-$kind-x.times" "$wine" kelvarix-x.exe "wine64-$kind.rar" 'out\')
            (cd "$work" && timed "$work/wine64-$kind-inst.times" "$wine" "inst-$kind.exe")
        done
    done
    sleep 0.5
    rm -rf "$work/out" "$temp_unix"/PTemp_? "$work"/inst-*.exe 2>/dev/null
    report wine64 one "window, 1 x 200 MB"
    report wine64 many "window, 2000 x 100 KB"
    if [ -e "$w64/tests/bench-progress-window.exe" ]; then
        echo "wine64, the same extraction in one process with and without the window:"
        (cd "$work" && "$wine" "$w64/tests/bench-progress-window.exe" wine64-one.rar "$runs" 2>/dev/null | tr -d '\r')
    fi
    rm -f "$work"/wine64-*.rar
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=
else
    echo "wine64: skipped (no Windows build in '${1:-build-w64}', or no wine64/Xvfb)"
fi

# ---------------------------------------------------------------- Linux build, terminal line
if [ -n "$native" ] && [ -x "$native/src/programs/kelvarix1" ] && [ -x "$native/src/programs/kelvarix-x" ] &&
    command -v script >/dev/null; then
    printf '#!/bin/sh\nexit 0\n' >"$work/src/noop"
    payloads linux "$work/src/noop" noop
    cp "$native/src/programs/kelvarix1" "$native/src/programs/kelvarix-x" "$work/"
    for kind in tiny one many; do
        (cd "$work" && ./kelvarix1 "inst-$kind" -i "linux-$kind.rar" >/dev/null 2>&1 && chmod +x "inst-$kind")
        for _ in $(seq 1 "$runs"); do
            rm -rf "$work/out" "$work/tmp"
            mkdir -p "$work/out" "$work/tmp"
            (cd "$work" && timed "$work/linux-$kind-x.times" script -qec "./kelvarix-x linux-$kind.rar out/" /dev/null)
            (cd "$work" && export TMPDIR=$work/tmp && timed "$work/linux-$kind-inst.times" script -qec "./inst-$kind" /dev/null)
        done
    done
    rm -rf "$work/out" "$work/tmp"
    report linux one "terminal line, 1 x 200 MB"
    report linux many "terminal line, 2000 x 100 KB"
    if [ -x "$native/bench/bench-progress-window" ]; then
        echo "linux, the same extraction in one process with and without the terminal line:"
        (cd "$work" && script -qec "$native/bench/bench-progress-window linux-one.rar $runs" /dev/null </dev/null |
            tr '\r' '\n' | grep -E 'runs,|^progress|^ratio|alone')
    fi
else
    echo "linux: skipped (no native build in '${2:-build}')"
fi
