#!/usr/bin/env bash
# zelo-cli's copy, move, backup and conversion onto a real Samba share mounted through GVfs: the
# contents arrive whole, write times are kept to the second (so a second backup copies nothing),
# modes and extended attributes the share refuses are not failures, and links are reported as not
# copied, once a run.
#   transfer_smb.sh ZELO-CLI
set -uo pipefail
cli=$1
. "$(dirname "$0")/smb_lib.sh"
smb_begin
export ZELO_DRIVES="C=/"
# The GVfs path, with the direct client turned off (direct_smb.sh tests the direct one).
export ZELO_SMB_DIRECT=0

# $1: expected exit status; the rest: zelo-cli's arguments. Output in $out, standard error in $err.
run() {
  local want=$1
  shift
  out=$(timeout 120 "$cli" "$@" 2>"$smb_work/err")
  local got=$?
  err=$(cat "$smb_work/err")
  [ "$got" -eq "$want" ] || smb_fail "zelo-cli $1: exit $got, not $want: $out $err"
}
expect_out() { grep -qxF "$1" <<<"$out" || smb_fail "no line '$1' in: $out"; }

step="source"
src=$smb_work/src
mkdir -p "$src/a/b" "$src/empty"
head -c 0 /dev/urandom >"$src/zero"
head -c 1048577 /dev/urandom >"$src/a/big"
for i in 1 2 3 4 5; do head -c $((i * 3001)) /dev/urandom >"$src/a/b/f$i"; done
printf 'one\ntwo\n' >"$src/a/text.txt"
chmod 640 "$src/a/b/f1"
chmod 755 "$src/a/b/f2"
command -v setfattr >/dev/null && setfattr -n user.note -v kept "$src/a/b/f3"
ln -s b/f1 "$src/a/link1"
ln -s ../zero "$src/a/link2"
find "$src" -exec touch -h -d '2021-05-06 07:08:09' {} +

step="copy-tree"
# The share has no links: both are told as one and not counted as copied, the rest is copied, the run fails.
run 1 copy-tree "$src" "$smb_mount"
expect_out "files new 8 updated 0 up-to-date 0 newer-at-destination 0"
expect_out "links not copied 2"
[ "$(grep -c 'リンクを作れないドライブです' <<<"$err")" -eq 1 ] || smb_fail "links not told exactly once: $err"
grep -qi "xattr\|attribute\|Operation not supported\|エラー番号" <<<"$err" && smb_fail "refused modes or attributes told: $err"
rm "$src/a/link1" "$src/a/link2"
same_tree_seconds "$src" "$smb_dir/src"

step="copy-tree again"
run 0 copy-tree "$src" "$smb_mount"
expect_out "files new 0 updated 0 up-to-date 8 newer-at-destination 0"
# A newer source file is copied over the older one, and only it.
printf 'changed' >"$src/a/b/f4"
touch -d '2022-01-01 00:00:01' "$src/a/b/f4"
run 0 copy-tree "$src" "$smb_mount"
expect_out "files new 0 updated 1 up-to-date 7 newer-at-destination 0"
same_tree_seconds "$src" "$smb_dir/src"

step="mirror"
mkdir "$smb_mount/backup"
run 0 mirror "$src" "$smb_mount/backup"
same_tree_seconds "$src" "$smb_dir/backup/src"
# The second backup finds every file as new as its source: nothing is copied or deleted.
run 0 mirror "$src" "$smb_mount/backup"
expect_out "files new 0 updated 0 up-to-date 8 newer-at-destination 0"
expect_out "deleted directories 0 files 0"
# What the source no longer holds goes from the share.
rm -r "$src/a/b/f5" "$src/empty"
run 0 mirror "$src" "$smb_mount/backup"
expect_out "deleted directories 1 files 1"
same_tree_seconds "$src" "$smb_dir/backup/src"

step="copy-tree, mirror and move-tree, names in another case"
# The share ignores case: what it holds under another case is that entry, weighed and kept, never
# deleted and copied again; two source names that become one copy the first and keep the other.
cased=$smb_work/cased
mkdir -p "$cased/Sub" "$smb_dir/cb/cased/SUB"
echo "older source" >"$cased/a.txt"
echo "x" >"$cased/Sub/x.txt"
echo "newer on the share" >"$smb_dir/cb/cased/A.TXT"
echo "x" >"$smb_dir/cb/cased/SUB/x.txt"
touch -d '2020-01-01 00:00:00' "$cased/a.txt" "$cased/Sub/x.txt" "$smb_dir/cb/cased/SUB/x.txt"
touch -d '2024-01-01 00:00:00' "$smb_dir/cb/cased/A.TXT"
seen_cased() { [ -e "$smb_mount/cb/cased/SUB/x.txt" ]; }
smb_until seen_cased || smb_fail "the share does not show SUB/x.txt"
for command in copy-tree mirror; do
  run 0 "$command" "$cased" "$smb_mount/cb"
  expect_out "files new 0 updated 0 up-to-date 2 newer-at-destination 1"
  [ "$(cat "$smb_dir/cb/cased/A.TXT")" = "newer on the share" ] || smb_fail "$command replaced A.TXT"
done
expect_out "deleted directories 0 files 0"
echo "lower" >"$cased/Case.txt"
echo "upper" >"$cased/CASE.TXT"
run 1 move-tree "$cased" "$smb_mount/cb"
[ "$(cat "$smb_dir/cb/cased/CASE.TXT")" = "upper" ] || smb_fail "CASE.TXT did not arrive"
[ "$(cat "$cased/Case.txt")" = "lower" ] || smb_fail "Case.txt was lost"

step="move-tree"
moved=$smb_work/moved
mkdir -p "$moved/m"
head -c 20000 /dev/urandom >"$moved/m/data"
touch -d '2020-02-03 04:05:06' "$moved/m/data"
cp -a "$moved" "$smb_work/moved-model"
run 0 move-tree "$moved/m" "$smb_mount"
[ ! -e "$moved/m" ] || smb_fail "the moved folder is still there"
same_tree_seconds "$smb_work/moved-model/m" "$smb_dir/m"

step="copy-files, a name in another case"
# The share ignores case: a selected name it holds in another case is that file, weighed by its date,
# never taken for a free name (from 64 names on the destination is read as one listing).
sel=$smb_work/sel
mkdir -p "$sel" "$smb_dir/sel"
for i in $(seq 1 70); do echo "$i" >"$sel/s$i.txt"; done
echo "source" >"$sel/Case.txt"
touch -d '2021-05-06 07:08:09' "$sel"/*
echo "newer on the share" >"$smb_dir/sel/CASE.TXT"
seen() { [ -e "$smb_mount/sel/CASE.TXT" ]; }
smb_until seen || smb_fail "the share does not show CASE.TXT"
run 0 copy-files "$sel"/* "$smb_mount/sel"
expect_out "up-to-date 1"
expect_out "copied 70"
[ "$(cat "$smb_dir/sel/CASE.TXT")" = "newer on the share" ] || smb_fail "CASE.TXT was replaced"

step="requests per file"
# Counted by the server: a safe copy through GVfs costs 21 SMB2 requests per new file (the table in
# bench/bench.sh, case_smb); one more lookup or setting per file (3 to 6 requests) climbs past 24.
many=$smb_work/many
mkdir -p "$many/d1" "$many/d2" "$smb_mount/counted"
for i in $(seq 1 100); do
  head -c $((1024 + i * 150)) /dev/urandom >"$many/d1/f$i"
  head -c $((16384 - i * 150)) /dev/urandom >"$many/d2/f$i"
done
before=$(smb_requests) || exit 1
ZELO_SMB_DIRECT=0 run 0 copy-tree "$many" "$smb_mount/counted"
after=$(smb_requests) || exit 1
per_file=$(awk -v n=$((after - before)) 'BEGIN { printf "%.1f", n / 200 }')
echo "SMB2 requests per file: $per_file"
awk -v p="$per_file" 'BEGIN { exit !(p > 24) }' && smb_fail "$per_file SMB2 requests per file, more than 24"
same_tree_seconds "$many" "$smb_dir/counted/many"

step="attributes"
# The share keeps no user.DOSATTRIB: the attributes are read all the same.
run 0 attrib "$smb_mount/src/a/big" "$smb_mount/src/a"
grep -qx -- "----A  $smb_mount/src/a/big" <<<"$out" || smb_fail "attributes: $out"
grep -qx -- "D----  $smb_mount/src/a" <<<"$out" || smb_fail "attributes: $out"

step="convert"
printf 'a\nb\n' >"$smb_mount/conv.txt"
run 0 convert 3 "$smb_mount/conv.txt"
[ "$(od -An -c "$smb_dir/conv.txt" | tr -d ' \n')" = 'a\r\nb\r\n' ] || smb_fail "LF->CRLF: $(od -c "$smb_dir/conv.txt")"
run 0 convert 0 "$smb_mount/conv.txt"
cmp -s <(printf 'a\nb\n') "$smb_dir/conv.txt" || smb_fail "CRLF->LF: $(od -c "$smb_dir/conv.txt")"
# Nothing was left under a temporary name on the share.
leftover=$(find "$smb_dir" -name '.zelo-*')
[ -z "$leftover" ] || smb_fail "temporary files left: $leftover"
echo "PASS"
