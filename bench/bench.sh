#!/usr/bin/env bash
# zelo-cli against the standard tools, side by side in one run, on tmpfs (/dev/shm) so that the
# program is measured rather than the disk. Each case: one untimed warm-up of each tool, then RUNS
# timed rounds alternating A B A B; each side starts from identically prepared data, prepared untimed.
# Prints the median time of each side and the median of the per-round ratios (zelo / tool).
#
#   bench/bench.sh [CASE...]      cases: count delete copy sparse (default: all)
#   RUNS=9 ZELO_CLI=/path/to/zelo-cli BENCH_DIR=/dev/shm bench/bench.sh
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cli="${ZELO_CLI:-}"
if [[ -z "$cli" ]]; then
    for candidate in "$here/../cli/zelo-cli" "$here/../build/cli/zelo-cli"; do
        [[ -x "$candidate" ]] && cli="$candidate" && break
    done
fi
[[ -x "$cli" ]] || { echo "zelo-cli not found: build it or set ZELO_CLI" >&2; exit 2; }
runs="${RUNS:-7}"
(( runs >= 5 )) || { echo "RUNS must be at least 5" >&2; exit 2; }
base="${BENCH_DIR:-/dev/shm}"
work="$(mktemp -d "$base/zelo-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
# The whole machine is C: = "/" for the driver, whatever the environment maps.
export ZELO_DRIVES="C=/"

now() { date +%s%N; }

# Times one command in nanoseconds; its output is discarded, a failure stops the benchmark.
timed() {
    local start end
    start=$(now)
    "$@" >/dev/null 2>"$work/stderr" || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    end=$(now)
    echo $((end - start))
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# run_case NAME TOOLNAME PREPARE ZELO-COMMAND... -- TOOL-COMMAND...
# PREPARE is a function run untimed before every timed command (warm-ups included).
run_case() {
    local name="$1" toolName="$2" prepare="$3"
    shift 3
    local -a zelo=() tool=()
    while [[ "$1" != "--" ]]; do zelo+=("$1"); shift; done
    shift
    tool=("$@")
    local -a zt=() tt=() ratios=()
    $prepare; timed "${zelo[@]}" >/dev/null
    $prepare; timed "${tool[@]}" >/dev/null
    local i z t
    for ((i = 0; i < runs; i++)); do
        $prepare; z=$(timed "${zelo[@]}")
        $prepare; t=$(timed "${tool[@]}")
        zt+=("$z"); tt+=("$t")
        ratios+=("$(awk -v a="$z" -v b="$t" 'BEGIN { printf "%.4f", a / b }')")
    done
    local zm tm rm
    zm=$(median "${zt[@]}"); tm=$(median "${tt[@]}"); rm=$(median "${ratios[@]}")
    printf '%-10s zelo-cli %8.1f ms   %-8s %8.1f ms   ratio %.3f  (target <= 1.1)\n' \
        "$name" "$(awk -v n="$zm" 'BEGIN { print n / 1e6 }')" "$toolName" \
        "$(awk -v n="$tm" 'BEGIN { print n / 1e6 }')" "$rm"
}

# 20,000 files of 1 to 16 KiB in 100 directories of 200 (4 levels deep at most), made once.
make_tree() {
    local dir="$1"
    perl -e '
        my ($root) = @ARGV;
        srand(42);
        my $block = "z" x 16384;
        for my $d (0 .. 99) {
            my $path = sprintf("%s/g%02d/d%03d", $root, $d % 10, $d);
            system("mkdir", "-p", $path) == 0 or die;
            for my $f (0 .. 199) {
                open(my $fh, ">", "$path/f$f.dat") or die;
                print $fh substr($block, 0, 1024 + int(rand(15361)));
                close($fh);
            }
        }' "$dir"
}

case_count() {
    make_tree "$work/tree"
    nothing() { :; }
    run_case count "du -sb" nothing "$cli" count "$work/tree" -- du -sb "$work/tree"
}

case_delete() {
    [[ -d "$work/tree" ]] || make_tree "$work/tree"
    fresh() { rm -rf "$work/victim"; cp -a "$work/tree" "$work/victim"; }
    run_case delete "rm -rf" fresh "$cli" delete "$work/victim" -- rm -rf "$work/victim"
    rm -rf "$work/victim"
}

case_copy() {
    head -c $((1 << 30)) /dev/urandom >"$work/big.bin"
    cat "$work/big.bin" >/dev/null # warm cache
    nodest() { rm -f "$work/big.copy"; }
    run_case copy-file "cp" nodest "$cli" copy-file "$work/big.bin" "$work/big.copy" -- cp "$work/big.bin" "$work/big.copy"
    rm -f "$work/big.bin" "$work/big.copy"
}

# A 4 GiB file with 1 % data: 64 KiB extents every 6.4 MiB, holes between them and at the end.
case_sparse() {
    perl -e '
        my ($path) = @ARGV;
        open(my $fh, "+>", $path) or die;
        binmode($fh);
        my $size = 4 << 30;
        my $stride = 6400 << 10;
        srand(7);
        for (my $at = 0; $at + 65536 <= $size - $stride / 2; $at += $stride) {
            seek($fh, $at, 0) or die;
            print $fh pack("N*", map { int(rand(4294967296)) } 1 .. 16384);
        }
        truncate($fh, $size) or die;
        close($fh) or die;' "$work/sparse.bin"
    cat "$work/sparse.bin" >/dev/null # warm cache
    nodest() { rm -f "$work/sparse.copy"; }
    run_case sparse "cp" nodest "$cli" copy-file "$work/sparse.bin" "$work/sparse.copy" -- cp "$work/sparse.bin" "$work/sparse.copy"
    rm -f "$work/sparse.bin" "$work/sparse.copy"
}

cases=("$@")
(( ${#cases[@]} )) || cases=(count delete copy sparse)
echo "zelo-cli: $cli   runs: $runs   data: $work"
for c in "${cases[@]}"; do
    case "$c" in
    count) case_count ;;
    delete) case_delete ;;
    copy) case_copy ;;
    sparse) case_sparse ;;
    *) echo "unknown case: $c" >&2; exit 2 ;;
    esac
done
