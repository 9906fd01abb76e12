#!/usr/bin/env bash
# What an archive keeps of a file beside its content, one row per case: a tree
# (an executable, a 0600 file, a set-user-id program, a Cyrillic name) packed
# for a target and extracted with kelvarix-x under a umask and a locale.
# Linux archives keep permission bits (never set-id; less the umask unless
# run as root, as tar does) and UTF-8 names as they are; Windows archives hold
# names in Windows-1251, made in UTF-8 again where the locale is UTF-8 and
# left as stored bytes otherwise; a name Windows-1251 cannot write is refused.
#
#   pack_meta.sh KELVARIX_PACK KELVARIX_X
set -u
[ $# = 2 ] || { echo "usage: pack_meta.sh KELVARIX_PACK KELVARIX_X" >&2; exit 2; }
pack=$(realpath "$1") extract=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/kxmeta_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
utf8=$(locale -a 2>/dev/null | grep -m1 -iE '^c\.utf-?8$' || echo C.UTF-8)
doc=Документ.txt
doc1251=$(printf '\xc4\xee\xea\xf3\xec\xe5\xed\xf2.txt')
root=0; [ "$(id -u)" = 0 ] && root=1

# name | target | setup program | extra file | umask | locale | exit | text in stderr | name=stored mode ('-': any) ...
rows=(
"linux, umask 022|linux|run.sh||022|$utf8|0||run.sh=755 secret.key=600 suid=4755 $doc=644 sub/deep.sh=750"
"linux, umask 077|linux|run.sh||077|$utf8|0||run.sh=755 secret.key=600 suid=4755 $doc=644"
"linux names stay as stored under a C locale|linux|$doc||022|C|0||$doc=644"
"linux keeps a name Windows-1251 has no letter for|linux|run.sh|ä.txt|022|$utf8|0||ä.txt=644"
"win32 names in Windows-1251, UTF-8 again under a UTF-8 locale|win32|$doc||022|$utf8|0||$doc=- sub/deep.sh=-"
"win32 names as stored bytes under a C locale|win32|run.sh||022|C|0||$doc1251=-"
"win32 refuses a name with no Windows-1251 form|win32|run.sh|ä.txt|022|C|2|name with no Windows-1251 form: t/ä.txt|"
"win32 refuses such a setup program|win32|ä.txt|ä.txt|022|C|2|setup program's name has no Windows-1251 form: ä.txt|"
)

failed=$work/failed  # one line per failing check, its row's name first
fail() { echo "FAIL: $1: $2"; echo "$1" >> "$failed"; }
for row in "${rows[@]}"; do
    IFS='|' read -r name target program extra mask loc want_exit want_text want <<< "$row"
    rm -rf t x out err && mkdir -p t/sub x
    printf '#!/bin/sh\n' > t/run.sh && chmod 755 t/run.sh
    printf K > t/secret.key && chmod 600 t/secret.key
    printf S > t/suid && chmod 4755 t/suid
    printf D > "t/$doc" && chmod 644 "t/$doc"
    printf E > t/sub/deep.sh && chmod 750 t/sub/deep.sh
    [ -z "$extra" ] || printf X > "t/$extra"
    "$pack" -q --archive --target "$target" -o out t "$program" 2> err
    got=$?
    [ "$got" = "$want_exit" ] || { fail "$name" "exit $got, want $want_exit ($(tr '\n' ' ' < err))"; continue; }
    [ -z "$want_text" ] || grep -qF -- "$want_text" err || { fail "$name" "stderr lacks '$want_text'"; continue; }
    [ "$want_exit" = 0 ] || continue
    if ! (umask "$mask" && LC_ALL=$loc "$extract" out x > /dev/null 2>&1); then
        fail "$name" "the archive does not extract"
        continue
    fi
    for pair in $want; do
        file=x/${pair%=*} stored=${pair##*=}
        [ -f "$file" ] || { fail "$name" "$file missing ($(ls x | tr '\n' ' '))"; continue; }
        [ "$stored" = - ] && continue
        expect=$((8#$stored & 8#777 & ~(root ? 0 : 8#$mask)))
        got=$((8#$(stat -c %a "$file")))
        [ "$got" = "$expect" ] || fail "$name" "$file has mode $(printf %o "$got"), want $(printf %o "$expect")"
    done
    # setup.spt names the program as the target reads it.
    spt=$program; [ "$target" = win32 ] && [ "$program" = "$doc" ] && spt=$doc1251
    LC_ALL=C grep -qF "SetupFile=$spt" x/setup.spt || fail "$name" "setup.spt does not name $program"
done
failures=$(sort -u "$failed" 2>/dev/null | wc -l)
echo "$((${#rows[@]} - failures)) of ${#rows[@]} cases passed"
exit $((failures > 0))
