#!/usr/bin/env bash
# zelo-cli against the standard tools, side by side in one run, on tmpfs (/dev/shm) so that the
# program is measured rather than the disk. Each case: one untimed warm-up of each tool, then RUNS
# timed rounds alternating A B A B; each side starts from identically prepared data, prepared untimed.
# Prints the median time of each side, the median of the per-round wall ratios (zelo / tool) with their
# spread, the median CPU-time ratio (user + system), and the load average when the case began.
#
#   bench/bench.sh [CASE...]      cases: count delete copy sparse tree (with mirror-plan) mirror-plan mixed files crlf lf esc sjis utf8 big plan-memory ext4 smb (default: all)
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

# Times one command: its wall time in nanoseconds and its CPU time (user + system of it and its children)
# in milliseconds, on one line. Its output is discarded; a failure stops the benchmark.
timed() {
    local start end status
    local TIMEFORMAT='%3U %3S'
    start=$(now)
    { time "$@" >/dev/null 2>"$work/stderr"; } 2>"$work/cpu"
    status=$?
    end=$(now)
    (( status == 0 )) || { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    echo "$((end - start)) $(awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/cpu")"
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
    local -a zt=() tt=() ratios=() cpuRatios=()
    local load
    load=$(cut -d' ' -f1 /proc/loadavg) # at the start: what the machine was doing besides
    $prepare; timed "${zelo[@]}" >/dev/null
    $prepare; timed "${tool[@]}" >/dev/null
    local i z t zc tc
    for ((i = 0; i < runs; i++)); do
        $prepare; read -r z zc < <(timed "${zelo[@]}")
        $prepare; read -r t tc < <(timed "${tool[@]}")
        zt+=("$z"); tt+=("$t")
        ratios+=("$(awk -v a="$z" -v b="$t" 'BEGIN { printf "%.4f", a / b }')")
        cpuRatios+=("$(awk -v a="$zc" -v b="$tc" 'BEGIN { printf "%.4f", (a + 1) / (b + 1) }')")
    done
    local zm tm rm cm lo hi
    zm=$(median "${zt[@]}"); tm=$(median "${tt[@]}"); rm=$(median "${ratios[@]}"); cm=$(median "${cpuRatios[@]}")
    lo=$(printf '%s\n' "${ratios[@]}" | sort -g | head -1); hi=$(printf '%s\n' "${ratios[@]}" | sort -g | tail -1)
    # The wall ratio's spread and the CPU ratio beside it: a busy neighbour widens the one and leaves the other.
    printf '%-14s zelo-cli %8.1f ms   %-8s %8.1f ms   ratio %.3f (%.3f-%.3f)   cpu ratio %.3f   load %s\n' \
        "$name" "$(awk -v n="$zm" 'BEGIN { print n / 1e6 }')" "$toolName" \
        "$(awk -v n="$tm" 'BEGIN { print n / 1e6 }')" "$rm" "$lo" "$hi" "$cm" "$load"
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

# A mixed tree: a few large files among many small ones.
make_mixed() {
    local dir="$1"
    make_tree "$dir"
    for i in 0 1 2 3; do head -c $((64 << 20)) /dev/urandom >"$dir/g0$i/large$i.bin"; done
}

# Tree copy into a new folder: zelo-cli copy-tree against cp -a.
tree_copy() {
    local name="$1" tree="$2"
    fresh_copy() { rm -rf "$work/out"; mkdir -p "$work/out"; }
    run_case "$name" "cp -a" fresh_copy "$cli" copy-tree "$tree" "$work/out" -- cp -a "$tree" "$work/out/"
}

# Mirrors against rsync -a --delete: into an empty destination, again with nothing changed, and after 1%
# of the files were touched, added and removed on the source side.
mirrors() {
    local prefix="$1" tree="$2"
    empty_dest() { rm -rf "$work/out"; mkdir -p "$work/out"; }
    run_case "$prefix-fresh" "rsync" empty_dest "$cli" mirror "$tree" "$work/out" -- rsync -a --delete "$tree" "$work/out/"
    mirrored() { [[ -d "$work/out/$(basename "$tree")" ]] || { mkdir -p "$work/out"; rsync -a --delete "$tree" "$work/out/"; }; }
    run_case "$prefix-noop" "rsync" mirrored "$cli" mirror "$tree" "$work/out" -- rsync -a --delete "$tree" "$work/out/"
    changed() { change_one_percent "$tree"; }
    run_case "$prefix-1%" "rsync" changed "$cli" mirror "$tree" "$work/out" -- rsync -a --delete "$tree" "$work/out/"
    mirror_plan "$prefix" "$tree"
}

# A fresh mirror of the tree in $work/out, then about 1% of its 20,000 files changed: 70 newer at the
# source, 10 extra and 60 missing at the destination.
change_one_percent() {
    local tree="$1"
    rm -rf "$work/out"; mkdir -p "$work/out"; rsync -a --delete "$tree" "$work/out/"
    local copy="$work/out/$(basename "$tree")"
    find "$tree" -name 'f1[0-6].dat' -path '*d00[0-9]*' -exec touch -d '+1 hour' {} + 2>/dev/null || true
    for d in "$copy"/g0?/d0?0; do echo extra >"$d/extra.dat"; done
    find "$copy" -name 'f2[0-5].dat' -path '*d01*' -delete
}

# The plan of a backup after the 1% change, against rsync's dry run: neither writes, so the change is
# made once and every round plans the same work.
mirror_plan() {
    local prefix="$1" tree="$2"
    change_one_percent "$tree"
    unchanged() { :; }
    run_case "$prefix-plan" "rsync -n" unchanged "$cli" mirror --dry-run "$tree" "$work/out" \
        -- rsync -an --delete "$tree" "$work/out/"
}

case_tree() {
    [[ -d "$work/tree" ]] || make_tree "$work/tree"
    tree_copy tree-copy "$work/tree"
    mirrors mirror "$work/tree"
}

case_mixed() {
    [[ -d "$work/mixed" ]] || make_mixed "$work/mixed"
    tree_copy mixed-copy "$work/mixed"
    mirrors mixed "$work/mixed"
}

# 10,000 selected files of one directory copied into another: copy-files against cp.
case_files() {
    mkdir -p "$work/flat"
    (cd "$work/flat" && for i in $(seq 1 10000); do head -c $((1024 + i % 8192)) /dev/zero >"f$i.dat"; done)
    fresh_files() { rm -rf "$work/fout"; mkdir -p "$work/fout"; }
    local -a files=("$work"/flat/*.dat)
    run_case copy-files "cp" fresh_files "$cli" copy-files "${files[@]}" "$work/fout" -- cp "${files[@]}" "$work/fout/"
    rm -rf "$work/flat" "$work/fout"
}

# Peak resident memory of one run of each side (KiB, from /usr/bin/time), against the input's size.
report_peak() {
    local name="$1" prepare="$2" input="$3"
    shift 3
    local -a zelo=() tool=()
    while [[ "$1" != "--" ]]; do zelo+=("$1"); shift; done
    shift
    tool=("$@")
    local zk tk
    $prepare; zk=$(/usr/bin/time -f %M "${zelo[@]}" 2>&1 >/dev/null | tail -1)
    $prepare; tk=$(/usr/bin/time -f %M "${tool[@]}" 2>&1 >/dev/null | tail -1)
    printf '%-10s peak memory: zelo-cli %.1f MiB, tool %.1f MiB, file %.1f MiB  (target <= 32 MiB)\n' "$name" \
        "$(awk -v k="$zk" 'BEGIN { print k / 1024 }')" "$(awk -v k="$tk" 'BEGIN { print k / 1024 }')" \
        "$(awk -v b="$(stat -c %s "$input")" 'BEGIN { print b / 1048576 }')"
    (( zk <= 32 * 1024 )) || { echo "$name: zelo-cli peak memory above 32 MiB" >&2; peak_over=1; }
}
peak_over=0

# A first backup of 200,000 one-byte files in 1,000 folders: the plan holds every file before the first
# byte is copied, so its peak memory is the plan's. It stays within 32 MiB (checked; the run fails
# otherwise), printed beside rsync's.
case_plan_memory() {
    perl -e '
        my ($root) = @ARGV;
        for my $d (0 .. 999) {
            my $path = sprintf("%s/g%02d/d%03d", $root, $d % 10, $d);
            system("mkdir", "-p", $path) == 0 or die;
            for my $f (0 .. 199) { open(my $fh, ">", "$path/file$f.dat") or die; print $fh "x"; close($fh); }
        }' "$work/many"
    local zk tk
    rm -rf "$work/mout"; mkdir -p "$work/mout"
    zk=$(/usr/bin/time -f %M "$cli" mirror "$work/many" "$work/mout" 2>&1 >/dev/null | tail -1)
    rm -rf "$work/mout"; mkdir -p "$work/mout"
    tk=$(/usr/bin/time -f %M rsync -a --delete "$work/many" "$work/mout/" 2>&1 >/dev/null | tail -1)
    printf '%-10s peak memory: zelo-cli %.1f MiB, rsync %.1f MiB, 200,000 files  (target <= 32 MiB)\n' plan \
        "$(awk -v k="$zk" 'BEGIN { print k / 1024 }')" "$(awk -v k="$tk" 'BEGIN { print k / 1024 }')"
    (( zk <= 32 * 1024 )) || { echo "plan: zelo-cli peak memory above 32 MiB" >&2; peak_over=1; }
    rm -rf "$work/many" "$work/mout"
}

# A 2 GiB text with CR LF ends converted once: the conversion streams, its peak memory stays
# within 32 MiB whatever the file's size (checked; the run fails otherwise).
case_big() {
    make_text "$work/lf.txt" 64 plain
    unix2dos -q "$work/lf.txt"
    : >"$work/big.txt"
    for ((i = 0; i < 32; i++)); do cat "$work/lf.txt" >>"$work/big.txt"; done
    rm -f "$work/lf.txt"
    local kib
    kib=$(/usr/bin/time -f %M "$cli" convert 0 "$work/big.txt" 2>&1 >/dev/null | tail -1)
    printf '%-10s peak memory: zelo-cli %.1f MiB, file %.1f MiB  (target <= 32 MiB)\n' big \
        "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$(awk -v b="$(stat -c %s "$work/big.txt")" 'BEGIN { print b / 1048576 }')"
    (( kib <= 32 * 1024 )) || { echo "big: zelo-cli peak memory above 32 MiB" >&2; peak_over=1; }
    rm -f "$work/big.txt"
}

# Text of about MIB MiB, lines of words with LF ends (made from a 1 MiB block): plain, with ESC
# colour sequences (esc), or Japanese in UTF-8 (ja).
make_text() {
    local out="$1" mib="$2" kind="$3"
    perl -e '
        my ($kind) = @ARGV;
        srand(7);
        my @words = qw(alpha beta gamma delta file manager copy move backup mirror text line zelo);
        my $block = "";
        while (length($block) < 1048576) {
            my $line = join(" ", map { $words[int(rand(@words))] } 1 .. 4 + int(rand(10)));
            if ($kind eq "esc") {
                $line = "2026-12-07 \e[1;32mINFO\e[0m $line \e[31m" . int(rand(1000)) . "\e[0m";
            } elsif ($kind eq "ja") {
                binmode(STDOUT, ":utf8");
                $line .= " " . join("", map { chr(0x3041 + int(rand(83))) } 1 .. 5)
                    . join("", map { chr(0x4E00 + int(rand(0x5000))) } 1 .. 8) . " \x{FF71}\x{FF72}";
            }
            $block .= "$line\n";
        }
        binmode(STDOUT, ":utf8") if $kind eq "ja";
        print $block;' "$kind" >"$work/block"
    : >"$out"
    for ((i = 0; i < mib; i++)); do cat "$work/block" >>"$out"; done
    rm -f "$work/block"
}

# In-place conversions: each run starts from a fresh copy of the input, made untimed.
case_crlf() {
    make_text "$work/lf.txt" 100 plain
    unix2dos -q -n "$work/lf.txt" "$work/crlf.txt"
    fresh() { cp "$work/crlf.txt" "$work/t.txt"; }
    run_case crlf dos2unix fresh "$cli" convert 0 "$work/t.txt" -- dos2unix -q "$work/t.txt"
    report_peak crlf fresh "$work/crlf.txt" "$cli" convert 0 "$work/t.txt" -- dos2unix -q "$work/t.txt"
    rm -f "$work/crlf.txt" "$work/t.txt"
}

case_lf() {
    [[ -f "$work/lf.txt" ]] || make_text "$work/lf.txt" 100 plain
    fresh() { cp "$work/lf.txt" "$work/t.txt"; }
    run_case lf unix2dos fresh "$cli" convert 3 "$work/t.txt" -- unix2dos -q "$work/t.txt"
    report_peak lf fresh "$work/lf.txt" "$cli" convert 3 "$work/t.txt" -- unix2dos -q "$work/t.txt"
    rm -f "$work/lf.txt" "$work/t.txt"
}

case_esc() {
    make_text "$work/esc.txt" 100 esc
    fresh() { cp "$work/esc.txt" "$work/t.txt"; }
    run_case esc "sed" fresh "$cli" convert 1 "$work/t.txt" -- env LC_ALL=C sed -i 's/\x1b[^m]*m//g' "$work/t.txt"
    report_peak esc fresh "$work/esc.txt" "$cli" convert 1 "$work/t.txt" -- env LC_ALL=C sed -i 's/\x1b[^m]*m//g' "$work/t.txt"
    rm -f "$work/esc.txt" "$work/t.txt"
}

# The code-page cases: iconv writes a new file, zelo-cli rewrites in place (the heavier task).
make_sjis() {
    make_text "$work/ja.txt" 50 ja
    iconv -c -f UTF-8 -t CP932 "$work/ja.txt" >"$work/sjis.txt" || true
    iconv -f CP932 -t UTF-8 "$work/sjis.txt" >"$work/utf8.txt"
    rm -f "$work/ja.txt"
}

case_sjis() {
    [[ -f "$work/sjis.txt" ]] || make_sjis
    fresh() { cp "$work/sjis.txt" "$work/t.txt"; rm -f "$work/out.txt"; }
    run_case sjis "iconv" fresh "$cli" convert 5 "$work/t.txt" -- iconv -f CP932 -t UTF-8 -o "$work/out.txt" "$work/t.txt"
    report_peak sjis fresh "$work/sjis.txt" "$cli" convert 5 "$work/t.txt" -- iconv -f CP932 -t UTF-8 -o "$work/out.txt" "$work/t.txt"
    fresh; iconv -f CP932 -t UTF-8 -o "$work/out.txt" "$work/t.txt"; "$cli" convert 5 "$work/t.txt" >/dev/null
    cmp -s "$work/t.txt" "$work/out.txt" || echo "sjis: zelo-cli and iconv differ" >&2
}

case_utf8() {
    [[ -f "$work/utf8.txt" ]] || make_sjis
    fresh() { cp "$work/utf8.txt" "$work/t.txt"; rm -f "$work/out.txt"; }
    run_case utf8 "iconv" fresh "$cli" convert 4 "$work/t.txt" -- iconv -f UTF-8 -t CP932 -o "$work/out.txt" "$work/t.txt"
    report_peak utf8 fresh "$work/utf8.txt" "$cli" convert 4 "$work/t.txt" -- iconv -f UTF-8 -t CP932 -o "$work/out.txt" "$work/t.txt"
    fresh; iconv -f UTF-8 -t CP932 -o "$work/out.txt" "$work/t.txt"; "$cli" convert 4 "$work/t.txt" >/dev/null
    cmp -s "$work/t.txt" "$work/out.txt" || echo "utf8: zelo-cli and iconv differ" >&2
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

# 2,000 files of 1 to 16 KiB in 20 directories copied onto a Samba share on 127.0.0.1 mounted through
# GVfs (the network drive tests' server), zelo-cli copy-tree against cp -r. Needs root, FUSE and the
# packages scripts/deps.sh installs; said and skipped where a share cannot be started.
# Onto ext4 in a loop image on the disk (EXT4_DIR, /var/tmp by default), where the flush at the end of a
# copy costs, as it never does on tmpfs: tree-copy against cp -a, and against cp -a followed by sync -f
# (the same durability). Needs root to mount; skipped otherwise.
case_ext4() {
    local img="${EXT4_DIR:-/var/tmp}/zelo-bench-ext4.img" mnt="$work/ext4"
    if [[ $(id -u) -ne 0 ]]; then echo "ext4: mounting a loop image needs root, skipped"; return; fi
    [[ -d "$work/tree" ]] || make_tree "$work/tree"
    truncate -s 2G "$img" && mkfs.ext4 -q -F "$img" && mkdir -p "$mnt" && mount -o loop "$img" "$mnt" \
        || { echo "ext4: cannot make or mount the image, skipped"; rm -f "$img"; return; }
    fresh_ext4() { rm -rf "$mnt/out"; mkdir -p "$mnt/out"; sync -f "$mnt"; }
    run_case ext4-tree "cp -a" fresh_ext4 "$cli" copy-tree "$work/tree" "$mnt/out" -- cp -a "$work/tree" "$mnt/out/"
    run_case ext4-durable "cp+sync" fresh_ext4 "$cli" copy-tree "$work/tree" "$mnt/out" \
        -- sh -c 'cp -a "$1" "$2/" && sync -f "$2"' sh "$work/tree" "$mnt/out"
    umount "$mnt"
    rm -f "$img"
}

case_smb() {
    (
        . "$here/../tests/smb/smb_lib.sh"
        smb_begin
        perl -e '
            my ($root) = @ARGV;
            srand(42);
            my $block = "z" x 16384;
            for my $d (0 .. 19) {
                mkdir("$root/d$d") or die;
                for my $f (0 .. 99) {
                    open(my $fh, ">", "$root/d$d/f$f.dat") or die;
                    print $fh substr($block, 0, 1024 + int(rand(15361)));
                    close($fh);
                }
            }' "$(mkdir -p "$work/smbsrc" && echo "$work/smbsrc")"
        # Emptied on the server's side, then waited for until the share no longer shows the copy.
        gone() { ! stat "$smb_mount/out/smbsrc" >/dev/null 2>&1; }
        fresh_share() {
            rm -rf "$smb_dir/out"; mkdir "$smb_dir/out"
            SMB_WAIT=300 smb_until gone || { echo "smb: the share still shows the last copy" >&2; exit 1; }
        }
        # SMB2 requests per file, counted by the server over one more untimed run of a command (the
        # counts take seconds to settle, so the timed rounds are left alone).
        #
        # What each step of a safe copy of a new file costs through GVfs (gvfsd-fuse 1.50, Samba 4.17),
        # counted step by step over 20 files:
        #   step (FUSE operation)                       requests  what reaches the server
        #   open O_CREAT|O_EXCL of the hidden name        4       LOOKUP: CREATE (no such name); CREATE: GVfs
        #                                                         looks again (CREATE), creates (CREATE), reads
        #                                                         the new file's attributes (GETINFO)
        #   write (a file of up to 256 KiB)               1       WRITE (one for each 256 KiB)
        #   close (RELEASE)                               2       GETINFO, CLOSE
        #   fchmod, fdatasync                             0       GVfs refuses modes and has no fsync: nothing
        #                                                         reaches the server (so no flush is durable)
        #   rename without replacing, to a free name      8       LOOKUP of the name (CREATE); GVfs stats the
        #                                                         source (CREATE, GETINFO, CLOSE) and the name
        #                                                         (CREATE), renames (CREATE, SETINFO, CLOSE)
        #   times by name, once the name is in place      6       set (CREATE, SETINFO, CLOSE), read back
        #                                                         (CREATE, GETINFO, CLOSE)
        # 21 in all, which zelo-cli sends; cp -r sends the first three rows (7), rsync -rt 31. Times set on
        # the open file cost 4 but do not hold (the server dates a written file at its close), and close()
        # returns before GVfs closes the file; the rename closes it first, so the times follow the rename.
        # GVfs renames "without replacing" by looking first, and libsmbclient deletes a name that appears
        # between the look and the rename: the window is a few requests long. A copy without the rename
        # (12-13) would leave a partial file under its name. GVfs replaces an existing file by deleting it
        # and renaming again (a share lost in between loses the old file), so an update first moves the
        # old file aside to a hidden name and removes it once the new one holds the name; the
        # destination's listing costs a stat per entry (3).
        per_file() {
            local before after
            fresh_share
            before=$(smb_requests) || exit 1
            "$@" >/dev/null 2>&1 || { echo "smb: failed: $*" >&2; exit 1; }
            after=$(smb_requests) || exit 1
            awk -v n=$((after - before)) 'BEGIN { printf "%.1f", n / 2000 }'
        }
        local rsync_t=(sh -c 'rsync -rt "$1" "$2" 2>/dev/null; s=$?; [ "$s" -eq 0 ] || [ "$s" -eq 23 ]' sh "$work/smbsrc" "$smb_mount/out/")
        local gvfs=(env ZELO_SMB_DIRECT=0 "$cli")
        local direct_count zelo_count cp_count rsync_count
        # The yardstick people would use, cp -r onto the GVfs mount, against zelo-cli as it reaches the
        # share by default (its own connections to the server) and through the GVfs mount alone.
        run_case smb-direct "cp -r" fresh_share "$cli" copy-tree "$work/smbsrc" "$smb_mount/out" \
            -- cp -r "$work/smbsrc" "$smb_mount/out/"
        direct_count=$(per_file "$cli" copy-tree "$work/smbsrc" "$smb_mount/out")
        run_case smb-copy "cp -r" fresh_share "${gvfs[@]}" copy-tree "$work/smbsrc" "$smb_mount/out" \
            -- cp -r "$work/smbsrc" "$smb_mount/out/"
        zelo_count=$(per_file "${gvfs[@]}" copy-tree "$work/smbsrc" "$smb_mount/out")
        cp_count=$(per_file cp -r "$work/smbsrc" "$smb_mount/out/")
        printf '%-14s SMB2 requests per file: zelo-cli direct %s   through GVfs %s   cp -r %s\n' smb-copy \
            "$direct_count" "$zelo_count" "$cp_count"
        # The same work as a copy that keeps times and never leaves a partial file under its name. The
        # share refuses modes, which rsync reports with its status 23 once every file is in place.
        run_case smb-rsync "rsync -rt" fresh_share "${gvfs[@]}" copy-tree "$work/smbsrc" "$smb_mount/out" \
            -- "${rsync_t[@]}"
        rsync_count=$(per_file "${rsync_t[@]}")
        printf '%-14s SMB2 requests per file: zelo-cli through GVfs %s   rsync -rt %s\n' smb-rsync "$zelo_count" \
            "$rsync_count"
        # Reading back (a backup from the share to local disk) against cp -r from the GVfs mount.
        fresh_share
        cp -r "$work/smbsrc" "$smb_dir/out/"
        fresh_local() { rm -rf "$work/readback"; mkdir "$work/readback"; }
        run_case smb-read "cp -r" fresh_local "$cli" copy-tree "$smb_mount/out/smbsrc" "$work/readback" \
            -- cp -r "$smb_mount/out/smbsrc" "$work/readback/"
        run_case smb-read-gvfs "cp -r" fresh_local "${gvfs[@]}" copy-tree "$smb_mount/out/smbsrc" "$work/readback" \
            -- cp -r "$smb_mount/out/smbsrc" "$work/readback/"
        rm -rf "$work/readback"
    )
    local status=$?
    (( status == 0 || status == 77 )) || exit "$status"
}

cases=("$@")
(( ${#cases[@]} )) || cases=(count delete copy sparse tree mixed files crlf lf esc sjis utf8 big plan-memory ext4 smb)
echo "zelo-cli: $cli   runs: $runs   data: $work"
for c in "${cases[@]}"; do
    case "$c" in
    count) case_count ;;
    delete) case_delete ;;
    copy) case_copy ;;
    tree) case_tree ;;
    mixed) case_mixed ;;
    mirror-plan)
        [[ -d "$work/tree" ]] || make_tree "$work/tree"
        mirror_plan mirror "$work/tree"
        ;;
    files) case_files ;;
    crlf) case_crlf ;;
    lf) case_lf ;;
    esc) case_esc ;;
    sjis) case_sjis ;;
    utf8) case_utf8 ;;
    sparse) case_sparse ;;
    big) case_big ;;
    plan-memory) case_plan_memory ;;
    ext4) case_ext4 ;;
    smb) case_smb ;;
    *) echo "unknown case: $c" >&2; exit 2 ;;
    esac
done
exit "$peak_over"
