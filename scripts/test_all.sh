#!/usr/bin/env bash
# Builds everything and runs every test: the Linux tests, the 32-bit link
# check, and the 64-bit Windows tests under wine64. One step per line; new
# steps go before the ctest runs, which stay last so the output ends with
# their summary.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/build_all.sh

echo "== 32-bit Windows program"
kind=$(file build-w32/src/programs/kelvarix1.exe)
echo "$kind"
[[ "$kind" == *"PE32 executable (GUI) Intel 80386"* ]]

echo "== wine prefix"
export WINEDEBUG=-all
export WINEPREFIX="$root/build-w64/wineprefix"
# No Mono or Gecko installer prompts while the prefix is made.
WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w 2>/dev/null || true

echo "== every native test under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/sanitize_tests.sh
echo "== damaged copies of the reference archives"
bash scripts/mutate_corpus.sh 100 build-sanitize/src/programs/kelvarix-x
echo "== short fuzz run of every target"
bash scripts/fuzz_all.sh 30

# Both test runs always run; the script fails when either failed.
status=0
echo "== Linux tests"
ctest --test-dir build --output-on-failure -j 2 || status=1

echo "== 64-bit Windows tests under wine64"
xvfb-run -a ctest --test-dir build-w64 --output-on-failure || status=1
exit $status
