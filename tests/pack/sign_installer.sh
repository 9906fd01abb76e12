#!/usr/bin/env bash
# A signed Windows installer keeps working: kelvarix-pack signs it with a
# throw-away self-signed certificate (osslsigncode), the signature verifies
# against that certificate, kelvarix-x extracts the archive from behind the
# certificate table, kelvarix1 -e writes the member out, kelvarix1 -i takes
# the signature off before it appends (and the result can be signed again),
# and the installer installs under wine64 on a virtual display.
#
#   sign_installer.sh KELVARIX_PACK KELVARIX_X KELVARIX1 WIN64_BUILD_DIR
# Exit code 77 (skipped) when osslsigncode, openssl, wine64, xvfb-run or the
# 64-bit Windows build are missing.
set -u
export LC_ALL=C
[ $# = 4 ] || { echo "usage: sign_installer.sh KELVARIX_PACK KELVARIX_X KELVARIX1 WIN64_BUILD_DIR" >&2; exit 2; }
pack=$(realpath "$1") extract=$(realpath "$2") kelvarix1=$(realpath "$3") w64=$(realpath -m "$4")
stub=$w64/src/programs/kelvarix1.exe record_args=$w64/tests/record-args.exe wine=/usr/lib/wine/wine64
for tool in osslsigncode openssl xvfb-run; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed (apt-get install osslsigncode openssl xvfb)"; exit 77; }
done
for file in "$stub" "$record_args" "$wine"; do
    [ -e "$file" ] || { echo "SKIPPED: $file is missing (build the 64-bit Windows targets; install wine64)"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kxsign_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL  $1"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" >"$work/out" 2>&1 || fail "$what: $(tail -3 "$work/out" | tr '\n' ' ')"; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=kelvarix test" \
    >/dev/null 2>&1 || { echo "FAIL  cannot make a certificate"; exit 1; }
mkdir -p prod/docs
cp "$record_args" prod/record-args.exe
printf 'Hello from the product\r\n' > prod/readme.txt
head -c 300000 /dev/urandom > prod/docs/data.bin

check "signed build" "$pack" -q --target win64 --stub "$stub" --sign-cert cert.pem --sign-key key.pem -o inst.exe \
    prod record-args.exe -x -y
[ -s inst.exe ] || { echo "FAIL  no installer"; exit 1; }
[ ! -e inst.exe.signed ] && [ ! -e inst.exe.part ] || fail "temporary files left beside the installer"
# The throw-away certificate is its own trust anchor: digest and chain check.
check "signature verifies" osslsigncode verify -CAfile cert.pem -in inst.exe
check "signature extracts" osslsigncode extract-signature -in inst.exe -out sig.der
[ -s sig.der ] || fail "empty signature"

mkdir x
check "kelvarix-x extracts the signed installer" "$extract" inst.exe x
cmp -s prod/docs/data.bin x/docs/data.bin || fail "kelvarix-x: docs/data.bin differs"
grep -q "SetupFile=record-args.exe -x -y" x/setup.spt 2>/dev/null || fail "kelvarix-x: setup.spt"

mkdir tmp
(cd tmp && TMPDIR=$work/tmp KELVARIX_UNATTENDED=1 "$kelvarix1" ../inst.exe -e >/dev/null 2>&1)
head -c 4 tmp/PTemp_a/inst.rar 2>/dev/null | grep -q '^Rar!' || fail "kelvarix1 -e: no archive written"

# Appending takes the signature off; the result is signed again.
cp inst.exe more.exe
printf extra > extra.txt
KELVARIX_UNATTENDED=1 "$kelvarix1" more.exe -i extra.txt >/dev/null 2>&1
osslsigncode extract-signature -in more.exe -out more.der >/dev/null 2>&1 && fail "kelvarix1 -i kept the signature"
check "signing again" osslsigncode sign -certs cert.pem -key key.pem -in more.exe -out more-signed.exe
check "signed again verifies" osslsigncode verify -CAfile cert.pem -in more-signed.exe
(cd tmp && TMPDIR=$work/tmp KELVARIX_UNATTENDED=1 "$kelvarix1" ../more-signed.exe -e >/dev/null 2>&1)
[ "$(cat tmp/PTemp_b/extra.txt 2>/dev/null)" = extra ] || fail "kelvarix1 -e after -i and signing again"

# A Windows setup program must be one Windows runs.
"$pack" -q --target win64 --stub "$stub" -o plain.exe prod readme.txt 2> err
grep -qF "cannot run the setup program readme.txt on Windows" err || fail "no warning for readme.txt as setup program"

# The signed installer installs under wine.
export WINEPREFIX=${WINEPREFIX:-$w64/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
record_win="Z:$(echo "$work/record.txt" | tr / '\\')"
KX_RECORD_ARGS=$record_win KELVARIX_UNATTENDED=1 xvfb-run -a "$wine" inst.exe </dev/null >wine.log 2>&1
rc=$?
for _ in $(seq 1 200); do [ -e record.txt ] && break; sleep 0.1; done
if [ "$rc" != 0 ] || [ ! -e record.txt ]; then
    fail "wine install: exit code $rc, setup program $([ -e record.txt ] && echo ran || echo 'did not run')"
else
    folder=$("$wine" winepath.exe -u "$(sed -n 1p record.txt | tr -d '\r' | awk '{print $NF}')" 2>/dev/null | tr -d '\r')
    grep -q '^-x -y ' record.txt || fail "wine install: parameters $(sed -n 1p record.txt)"
    cmp -s prod/docs/data.bin "$folder/docs/data.bin" || fail "wine install: docs/data.bin differs in '$folder'"
    case $folder in */PTemp_?) sleep 1; rm -rf "$folder" ;; esac
fi

[ $failures = 0 ] && echo "signed installer: all checks passed"
exit $((failures > 0))
