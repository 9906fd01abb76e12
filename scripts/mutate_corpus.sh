#!/usr/bin/env bash
# Extracts thousands of damaged copies of the reference archives (bit flips,
# truncations, overwritten byte runs; one volume of a chain at a time) with
# kelvarix-x, each in a fresh folder under a time limit. A mutant must never
# crash, hang, end with an unknown code, write anything outside its
# destination or beside its archive. Failing mutants are kept.
#
# Usage: scripts/mutate_corpus.sh [MUTANTS_PER_ARCHIVE] [KELVARIX_X]
#   default 150 per archive (about 3000 in all) and build/src/programs/kelvarix-x;
#   env KX_CORPUS (default ../shared/corpus), MUTATE_SEED (default 1).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
per=${1:-150}
tool=$(realpath "${2:-$root/build/src/programs/kelvarix-x}")
corpus=${KX_CORPUS:-$root/../shared/corpus}
seed=${MUTATE_SEED:-1}
[ -x "$tool" ] || { echo "mutate_corpus: no kelvarix-x at $tool" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kx_mutate.XXXXXX")
findings=$work/findings
mkdir -p "$findings"
export KELVARIX_UNATTENDED=1
# Sanitizer reports (when the tool is a sanitizer build) get a code of their own.
export ASAN_OPTIONS=${ASAN_OPTIONS:-exitcode=86:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-exitcode=86:halt_on_error=1}

# place DIR VICTIM MODE SEED VOLUME...: copies the volumes into DIR, damaging
# the one named VICTIM: mode 0 flips 1-4 bits, 1 truncates, 2 overwrites 1-16 bytes.
place() {
    perl -e '
        my ($dir, $victim, $mode, $seed, @volumes) = @ARGV;
        srand($seed);
        for my $path (@volumes) {
            open(my $f, "<:raw", $path) or die; local $/; my $d = <$f>; close $f;
            (my $name = $path) =~ s{.*/}{};
            my $n = length $d;
            if ($name eq $victim && $n > 0) {
                if ($mode == 0) {
                    for (1 .. 1 + int(rand(4))) {
                        my $i = int(rand($n));
                        substr($d, $i, 1) = chr(ord(substr($d, $i, 1)) ^ (1 << int(rand(8))));
                    }
                } elsif ($mode == 1) {
                    $d = substr($d, 0, int(rand($n)));
                } else {
                    my $i = int(rand($n)); my $k = 1 + int(rand(16));
                    for my $j ($i .. $i + $k - 1) { substr($d, $j, 1) = chr(int(rand(256))) if $j < $n; }
                }
            }
            open($f, ">:raw", "$dir/$name") or die; print $f $d; close $f;
        }
    ' "$@"
}

runs=0
bad=0
sets=()
for first in "$corpus"/*.rar; do sets+=("$first"); done
for first in "${sets[@]}"; do
    stem=$(basename "$first" .rar)
    volumes=("$first")
    for v in "$corpus/$stem".r[0-9][0-9]; do [ -e "$v" ] && volumes+=("$v"); done
    for ((i = 0; i < per; ++i)); do
        case_dir=$work/case
        rm -rf "$case_dir"
        mkdir -p "$case_dir/in" "$case_dir/out"
        n=$((seed * 1000003 + runs))
        victim=${volumes[$((n % ${#volumes[@]}))]}
        victim=${victim##*/}
        mode=$(((n / 7) % 3))
        place "$case_dir/in" "$victim" "$mode" "$n" "${volumes[@]}"
        status=0
        timeout -k 5 30 "$tool" "$case_dir/in/$stem.rar" "$case_dir/out/" >/dev/null 2>"$case_dir/stderr" || status=$?
        runs=$((runs + 1))
        problem=""
        case $status in
            0|1|2|3|5|8|255) ;;
            124|137) problem="hang" ;;
            86) problem="sanitizer report" ;;
            *) problem="exit $status" ;;
        esac
        stray=$(cd "$work" && find . -mindepth 1 ! -path ./case ! -path ./case/in ! -path ./case/out \
                    ! -path './case/out/*' ! -path ./case/stderr ! -path "./case/in/$stem.rar" \
                    ! -path "./case/in/$stem.r[0-9][0-9]" ! -path ./findings ! -path './findings/*' | head -3)
        [ -n "$stray" ] && problem="${problem:+$problem, }wrote outside the destination: $stray"
        if [ -n "$problem" ]; then
            bad=$((bad + 1))
            keep=$findings/$stem-$n
            mkdir -p "$keep"
            cp "$case_dir/in/"* "$case_dir/stderr" "$keep/" 2>/dev/null || true
            echo "mutant $stem (seed $n, mode $mode, $victim): $problem; kept in $keep"
            (cd "$work" && find . -mindepth 1 -maxdepth 1 ! -name case ! -name findings -exec rm -rf {} +)
        fi
    done
done
rm -rf "$work/case"
echo "mutate_corpus: $runs mutants, $bad findings"
if [ $bad -ne 0 ]; then
    exit 1
fi
rm -rf "$work"
