#!/usr/bin/env bash
# kelvarix-pack packs only what lies in FOLDER, and reads its command line
# the usual ways: one row per case, each on a fresh tree (t/setup.sh,
# t/sub/a.txt, and secret.txt beside t). A refused run must end with its exit
# code and message (with the system's reason where a file cannot be read or
# written) and leave the work folder exactly as it was; a run that warns must
# still build an installer whose archive holds the expected files (extracted
# with kelvarix-x) and not the skipped ones. A text starting with '!' must
# not appear. FIFOs, sockets and symbolic links make this a Linux test.
#
#   pack_inputs.sh KELVARIX_PACK KELVARIX1 KELVARIX_X
set -u
export LC_ALL=C  # the system's reasons in English
[ $# = 3 ] || { echo "usage: pack_inputs.sh KELVARIX_PACK KELVARIX1 KELVARIX_X" >&2; exit 2; }
pack=$(realpath "$1") stub=$(realpath "$2") extract=$(realpath "$3")
work=$(mktemp -d "${TMPDIR:-/tmp}/kxpackin_XXXXXX")
trap 'rm -rf "$work"' EXIT
err=$work/err  # kept outside the folder the runs work in
mkdir "$work/w" && cd "$work/w" || exit 1

socket() { python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$1"; }

# name | preparation | arguments after --stub | exit | text stderr holds | files extracted (name=content) | names not extracted
rows=(
"plain tree|:|-o out t setup.sh|0||setup.sh=S sub/a.txt=A|"
"setup program above FOLDER|:|-o out t ../secret.txt|2|must lie inside t: ../secret.txt||"
"setup program absolute|:|-o out t $work/w/t/setup.sh|2|must lie inside t: $work/w/t/setup.sh||"
"setup program climbing out|:|-o out t sub/../../secret.txt|2|must lie inside t: sub/../../secret.txt||"
"setup program a link leading out|ln -s ../secret.txt t/tool.sh|-o out t tool.sh|2|link leads outside the folder: t/tool.sh||"
"setup program behind a folder link|ln -s sub t/dl|-o out t dl/a.txt|2|not a file packed from t: dl/a.txt||"
"setup program a FIFO|mkfifo t/run|-o out t run|2|not a file packed from t: run||"
"link to a file outside|ln -s ../secret.txt t/leak|-o out t setup.sh|2|link leads outside the folder: t/leak||"
"link outside through a link inside|ln -s ../secret.txt t/leak; ln -s leak t/hop|-o out t setup.sh|2|link leads outside the folder: t/hop||"
"dangling link|ln -s nowhere t/dang|-o out t setup.sh|2|link leads nowhere: t/dang||"
"link loop|ln -s l2 t/l1; ln -s l1 t/l2|-o out t setup.sh|2|link leads nowhere: t/l1||"
"output inside FOLDER|:|-o t/x/../out t setup.sh|2|output must not be inside t or an input file: t/x/../out||"
"output is an input file|:|-o ./t/../t/sub/a.txt t setup.sh|2|output must not be inside t or an input file||"
"output a link into FOLDER|ln -s t/new out|-o out t setup.sh|2|output must not be inside t or an input file: out||"
"archive inside FOLDER|:|--archive -o t/sub/../out.rar t|2|output must not be inside t||"
"output over a followed link's target|ln -s ../secret.txt t/leak|--follow-links -o secret.txt t setup.sh|2|output must not be inside t or an input file: secret.txt||"
"further volume over an input|ln -s t/sub/a.txt out.r00|--volume-size 1k -o out t setup.sh|2|output must not be inside t or an input file: out.r00||"
"link to a file inside is a copy|ln -s sub/a.txt t/copy.txt|-o out t setup.sh|0||copy.txt=A sub/a.txt=A|"
"link outside with --follow-links|ln -s ../secret.txt t/leak|--follow-links -o out t setup.sh|0||leak=SECRET|"
"dangling link with --follow-links|ln -s nowhere t/dang|--follow-links -o out t setup.sh|0|warning: link leading nowhere skipped: t/dang|setup.sh=S|dang"
"link to a folder|ln -s sub t/dl|-o out t setup.sh|0|warning: link to a folder skipped: t/dl|sub/a.txt=A|dl"
"FIFO|mkfifo t/sub/fifo|-o out t setup.sh|0|warning: not a regular file or folder, skipped: t/sub/fifo|sub/a.txt=A|sub/fifo"
"FIFO with a terminal escape in its name|mkfifo \"t/\$(printf 'a\\033[31m')\"|-o out t setup.sh|0|warning: not a regular file or folder, skipped: t/a?[31m|setup.sh=S|"
"link to a FIFO|mkfifo t/fifo; ln -s fifo t/fl|-o out t setup.sh|0|warning: not a regular file or folder, skipped: t/fl|setup.sh=S|fl fifo"
"socket|socket t/sock|-o out t setup.sh|0|warning: not a regular file or folder, skipped: t/sock|setup.sh=S|sock"
"device with --follow-links|ln -s /dev/null t/null|--follow-links -o out t setup.sh|0|warning: not a regular file or folder, skipped: t/null|setup.sh=S|null"
"options as --opt=value, -oOUT, then -- before a FOLDER named like an option|cp -r t ./-t|--level=0 -oout -- -t setup.sh|0||setup.sh=S sub/a.txt=A|"
"option words after SETUP_PROGRAM|:|-o out t setup.sh -o x --solid|0|'-o' follows SETUP_PROGRAM, so it is passed to setup.sh|setup.sh=S|"
"the folder's own setup.spt|printf X > t/setup.spt|-o out t setup.sh|0|warning: the folder's own setup.spt is replaced by the generated one: t/setup.spt|setup.sh=S|"
"setup program Linux cannot run|:|-o out t setup.sh|0|cannot run the setup program setup.sh on Linux|setup.sh=S|"
"setup script with #!|printf '#!/bin/sh' > t/setup.sh|-o out t setup.sh|0|!cannot run||"
"missing FOLDER, with the reason|:|-o out nowhere setup.sh|2|not a folder: nowhere: No such file or directory||"
"unreadable stub, with the reason|:|--stub nostub -o out t setup.sh|2|cannot read the installer program nostub: No such file or directory||"
"output that cannot be created, with the reason|mkdir out.part|-o out t setup.sh|3|cannot create out.part: Is a directory||"
)

failures=0
fail() { echo "FAIL  $1: $2"; failures=$((failures + 1)); }
state() { find . -path ./x -prune -o -printf '%p %y %s %T@ %l\n' | sort; }

for row in "${rows[@]}"; do
    IFS='|' read -r name prepare args want_exit want_text want_files want_absent <<< "$row"
    rm -rf t x out* secret.txt ./-t
    mkdir -p t/sub
    printf S > t/setup.sh
    printf A > t/sub/a.txt
    printf SECRET > secret.txt
    eval "$prepare"
    before=$(state)
    # shellcheck disable=SC2086
    timeout 20 "$pack" -q --stub "$stub" $args > /dev/null 2> "$err"
    got=$?
    if [ "$got" != "$want_exit" ]; then
        fail "$name" "exit $got, want $want_exit ($(tr '\n' ' ' < "$err"))"
        continue
    fi
    if [[ "$want_text" == '!'* ]] && grep -qF -- "${want_text#!}" "$err"; then
        fail "$name" "stderr holds '${want_text#!}': $(tr '\n' ' ' < "$err")"
        continue
    elif [ -n "$want_text" ] && [[ "$want_text" != '!'* ]] && ! grep -qF -- "$want_text" "$err"; then
        fail "$name" "stderr lacks '$want_text': $(tr '\n' ' ' < "$err")"
        continue
    fi
    if [ "$want_exit" != 0 ]; then
        [ "$(state)" = "$before" ] || fail "$name" "the refused run changed the work folder"
        continue
    fi
    mkdir x
    if ! "$extract" out x > /dev/null 2>&1; then
        fail "$name" "the installer's archive does not extract"
        continue
    fi
    for pair in $want_files; do
        [ "$(cat "x/${pair%%=*}" 2>/dev/null)" = "${pair#*=}" ] || fail "$name" "x/${pair%%=*} is not '${pair#*=}'"
    done
    for absent in $want_absent; do
        [ ! -e "x/$absent" ] && [ ! -L "x/$absent" ] || fail "$name" "x/$absent was packed"
    done
    grep -q "SetupFile=setup.sh" x/setup.spt 2>/dev/null || fail "$name" "setup.spt does not name setup.sh"
done
echo "$((${#rows[@]} - failures)) of ${#rows[@]} cases passed"
exit $((failures > 0))
