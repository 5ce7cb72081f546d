#!/usr/bin/env bash
# zelo-cli's copy, move, backup and deletion on a Samba share through the direct client (its helper
# processes, not the GVfs mount): contents, write times to the microsecond, the plans' counts; no helper
# left after a run or after zelo-cli is killed, and nothing left under a temporary name; a helper that
# cannot log in leaves the share to the GVfs mount, silently.
#   direct_smb.sh ZELO-CLI
set -uo pipefail
cli=$1
. "$(dirname "$0")/smb_lib.sh"
smb_begin
export ZELO_DRIVES="C=/"

# Each helper started records its process number before it becomes the real one.
helper_log=$smb_work/helpers
cat >"$smb_work/helper" <<WRAP
#!/bin/sh
echo \$\$ >>"$helper_log"
exec "$(dirname "$cli")/zelo-smb-helper"
WRAP
chmod +x "$smb_work/helper"
export ZELO_SMB_HELPER=$smb_work/helper

# $1: expected exit status; the rest: zelo-cli's arguments. Output in $out, standard error in $err.
run() {
  local want=$1
  shift
  : >"$helper_log"
  out=$(timeout 120 "$cli" "$@" 2>"$smb_work/err")
  local got=$?
  err=$(cat "$smb_work/err")
  [ "$got" -eq "$want" ] || smb_fail "zelo-cli $1: exit $got, not $want: $out $err"
}
expect_out() { grep -qxF -- "$1" <<<"$out" || smb_fail "no line '$1' in: $out"; }
helpers_gone() {
  local pid
  while read -r pid; do kill -0 "$pid" 2>/dev/null && return 1; done <"$helper_log"
  return 0
}
# The run went through the direct client, and every helper it started has ended.
went_direct() {
  [ -s "$helper_log" ] || smb_fail "no helper was started"
  smb_until helpers_gone || smb_fail "helpers left after the run: $(cat "$helper_log")"
}
no_temporaries() {
  local left
  left=$(find "$smb_dir" -name '.zelo-*')
  [ -z "$left" ] || smb_fail "temporary files left: $left"
}
step="source"
src=$smb_work/src
mkdir -p "$src/a/b" "$src/empty"
head -c 0 /dev/urandom >"$src/zero"
head -c 3145729 /dev/urandom >"$src/a/big"
for i in 1 2 3 4 5; do head -c $((i * 3001)) /dev/urandom >"$src/a/b/f$i"; done
find "$src" -type f -exec touch -d '2021-05-06 07:08:09.123456' {} +

step="copy-tree to the share"
run 0 copy-tree "$src" "$smb_mount"
expect_out "files new 7 updated 0 up-to-date 0 newer-at-destination 0"
went_direct
same_tree "$src" "$smb_dir/src"
# An update replaces the older file whole; the rest is up to date.
head -c 5000 /dev/urandom >"$src/a/b/f4"
touch -d '2022-01-01 00:00:01.654321' "$src/a/b/f4"
run 0 copy-tree "$src" "$smb_mount"
expect_out "files new 0 updated 1 up-to-date 6 newer-at-destination 0"
same_tree "$src" "$smb_dir/src"

step="mirror"
mkdir "$smb_dir/backup"
run 0 mirror "$src" "$smb_mount/backup"
same_tree "$src" "$smb_dir/backup/src"
rm -r "$src/a/b/f5" "$src/empty"
echo "only on the share" >"$smb_dir/backup/src/a/extra"
run 0 mirror "$src" "$smb_mount/backup"
expect_out "files new 0 updated 0 up-to-date 6 newer-at-destination 0"
expect_out "deleted directories 1 files 2"
went_direct
same_tree "$src" "$smb_dir/backup/src"
# Earlier versions kept on the share itself: what the run deletes or replaces moves aside by a rename there.
echo "only on the share" >"$smb_dir/backup/src/a/extra"
cp "$smb_dir/backup/src/a/b/f1" "$smb_work/f1.before"
head -c 5000 /dev/urandom >"$src/a/b/f1"
touch -d '2030-01-01' "$src/a/b/f1"
run 0 mirror --backup-dir="$smb_mount/versions" "$src" "$smb_mount/backup"
went_direct
same_tree "$src" "$smb_dir/backup/src"
[ "$(cd "$smb_dir/versions"/*/ && find . -type f | sort | tr '\n' ' ')" = "./a/b/f1 ./a/extra " ] \
  || smb_fail "the versions hold: $(cd "$smb_dir/versions" && find .)"
cmp -s "$smb_dir/versions"/*/a/b/f1 "$smb_work/f1.before" || smb_fail "the earlier f1 was not kept"

step="backup from the share"
mkdir "$smb_work/local"
run 0 mirror "$smb_mount/backup/src" "$smb_work/local"
went_direct
same_tree "$src" "$smb_work/local/src"

step="move-tree"
mkdir -p "$smb_work/moved/m"
head -c 20000 /dev/urandom >"$smb_work/moved/m/data"
cp -a "$smb_work/moved" "$smb_work/moved-model"
run 0 move-tree "$smb_work/moved/m" "$smb_mount"
[ ! -e "$smb_work/moved/m" ] || smb_fail "the moved folder is still there"
same_tree "$smb_work/moved-model/m" "$smb_dir/m"

step="delete"
run 0 --yes delete "$smb_mount/m"
went_direct
[ ! -e "$smb_dir/m" ] || smb_fail "the deleted folder is still on the share"
no_temporaries

step="names the share cannot hold"
# A "\" would reach another folder, a ":" another file's stream: each such name is refused in words, the
# rest is copied, and nothing lands anywhere else on the share.
mkdir -p "$smb_work/odd/back" "$smb_dir/odd/back"
for name in 'back\slash.txt' 'a:b.txt' "$(printf 'bad\377.txt')" 'ok.txt'; do printf x >"$smb_work/odd/$name"; done
run 1 copy-tree "$smb_work/odd" "$smb_mount"
went_direct
[ "$(grep -c 'このドライブでは使えない名前です' <<<"$err")" -eq 3 ] || smb_fail "refused names not told: $err"
[ "$(cd "$smb_dir/odd" && find . | sort | tr '\n' ' ')" = ". ./back ./ok.txt " ] \
  || smb_fail "the share holds: $(cd "$smb_dir/odd" && find .)"
no_temporaries

step="requests per file"
# Counted by the server: a new file costs 11 SMB2 requests through the direct client (create, write and
# close the hidden file, its times, the look at the free name, the rename), an update 20 (the old file
# looked up once, moved aside, removed). One more lookup per file (1 to 3 requests) climbs past the bounds.
many=$smb_work/many
mkdir -p "$many"
for i in $(seq 1 200); do head -c $((1024 + i * 70)) /dev/urandom >"$many/f$i"; done
while read -r what bound; do
  [ "$what" = update ] && touch "$many"/*
  before=$(smb_requests) || exit 1
  run 0 copy-tree "$many" "$smb_mount"
  after=$(smb_requests) || exit 1
  per_file=$(awk -v n=$((after - before)) 'BEGIN { printf "%.1f", n / 200 }')
  echo "SMB2 requests per $what file: $per_file"
  awk -v p="$per_file" -v b="$bound" 'BEGIN { exit !(p > b) }' && smb_fail "$per_file SMB2 requests per $what file, more than $bound"
  same_tree "$many" "$smb_dir/many"
done <<'CASES'
new 12
update 21
CASES

step="files at the held bound"
# Up to 1 MiB a file goes to the helper whole at its commit; one byte more is made on the share and
# streamed. Both ways, new and over an older copy.
edge=$smb_work/edge
mkdir -p "$edge"
for round in new updated; do
  head -c 1048576 /dev/urandom >"$edge/held"
  head -c 1048577 /dev/urandom >"$edge/streamed"
  touch -d "2023-0${#round}-02 03:04:05.$((RANDOM + 100000))" "$edge/held" "$edge/streamed"
  run 0 copy-tree "$edge" "$smb_mount"
  went_direct
  expect_out "files new $([ $round = new ] && echo 2 || echo 0) updated $([ $round = new ] && echo 0 || echo 2) up-to-date 0 newer-at-destination 0"
  same_tree "$edge" "$smb_dir/edge"
done
no_temporaries

step="attributes carried both ways"
# A copy (duplicate) carries ReadOnly, Hidden, System and Archive: onto the share as the share's own word
# (what Samba keeps in the server file's user.DOSATTRIB), and back as user.DOSATTRIB and the mode. Cases:
# local attributes to set, the word the server then keeps, the letters back home.
dos_on_server() {
  local hex
  hex=$(getfattr -e hex -n user.DOSATTRIB "$1" 2>/dev/null | sed -n 's/^user.DOSATTRIB=0x//p')
  # Its text prefix where it writes one ("0x26"), else the word of its binary form with an empty prefix
  # (versions 3 to 5: the word after the valid flags, at byte 12, little-endian).
  if [ "${hex:0:4}" = 3078 ]; then
    printf '%b' "$(sed 's/\(..\)/\\x\1/g' <<<"$hex")" | tr '\0' '\n' | head -n 1
  elif [ "${#hex}" -ge 32 ]; then
    printf '0x%x\n' "$((16#${hex:30:2}${hex:28:2}${hex:26:2}${hex:24:2}))"
  fi
}
mkdir -p "$smb_work/attr" "$smb_work/back" "$smb_dir/attr"
while read -r letters word back; do
  f=$smb_work/attr/$letters.txt
  echo "$letters" >"$f"
  run 0 attrib --set="$letters" "$f"
  run 0 duplicate "$f" "$smb_mount/attr" 1
  went_direct
  [ "$(dos_on_server "$smb_dir/attr/${letters}00.txt")" = "$word" ] \
    || smb_fail "$letters: the share keeps $(dos_on_server "$smb_dir/attr/${letters}00.txt"), not $word"
  [ "$(stat -c %y "$f" | cut -c1-26)" = "$(stat -c %y "$smb_dir/attr/${letters}00.txt" | cut -c1-26)" ] \
    || smb_fail "$letters: write time $(stat -c %y "$smb_dir/attr/${letters}00.txt"), not $(stat -c %y "$f")"
  run 0 duplicate "$smb_mount/attr/${letters}00.txt" "$smb_work/back" 1
  run 0 attrib "$smb_work/back/${letters}0000.txt"
  expect_out "$back  $smb_work/back/${letters}0000.txt"
  cmp -s "$f" "$smb_work/back/${letters}0000.txt" || smb_fail "$letters: the bytes came back changed"
done <<'CASES'
HSA 0x26 --HSA
RA 0x21 -R--A
H 0x2 --H--
CASES
# Setting attributes on the share leaves the write time as it was, to the microsecond.
while read -r letters word; do
  run 0 attrib --set="$letters" "$smb_mount/attr/H00.txt"
  [ "$(dos_on_server "$smb_dir/attr/H00.txt")" = "$word" ] || smb_fail "attrib $letters: the share keeps $(dos_on_server "$smb_dir/attr/H00.txt")"
  [ "$(stat -c %y "$smb_work/attr/H.txt" | cut -c1-26)" = "$(stat -c %y "$smb_dir/attr/H00.txt" | cut -c1-26)" ] \
    || smb_fail "attrib $letters: write time $(stat -c %y "$smb_dir/attr/H00.txt")"
done <<'CASES'
RS 0x5
A 0x20
CASES

# Stopped by a signal to the program's whole process group (as a terminal or a service manager sends it;
# the helpers are out of that group, so the program ends its copy cleanly), or killed outright: either way
# no helper outlives it, nothing partial carries the file's name, and the helper removes the hidden file
# it still had open.
head -c 300000000 /dev/zero >"$smb_work/huge"
writing() { [ -n "$(find "$smb_dir" -name '.zelo-*' -size +1M)" ]; }
left() { [ -z "$(find "$smb_dir" -name '.zelo-*')" ]; }
for signal in TERM KILL; do
  step="$signal mid-copy"
  : >"$helper_log"
  rm -f "$smb_dir/huge"
  setsid "$cli" copy-file "$smb_work/huge" "$smb_mount/huge" >/dev/null 2>&1 &
  victim=$!
  smb_until writing || smb_fail "the copy did not begin"
  [ -e "$smb_dir/huge" ] && smb_fail "the copy ended before the signal"
  kill -"$signal" -- "-$victim" # the program's whole process group, as a terminal sends it
  wait "$victim" 2>/dev/null
  smb_until helpers_gone || smb_fail "helpers outlived the program: $(cat "$helper_log")"
  [ ! -e "$smb_dir/huge" ] || smb_fail "a stopped copy put a file under its name: $(stat -c %s "$smb_dir/huge")"
  smb_until left || smb_fail "the stopped copy left its temporary file"
done

step="no login: the GVfs mount"
cat >"$smb_work/helper" <<'WRAP'
#!/bin/sh
exit 1
WRAP
mkdir "$smb_dir/gvfs"
run 0 copy-tree "$src" "$smb_mount/gvfs"
[ -z "$err" ] || smb_fail "the fallback said something: $err"
same_tree_seconds "$src" "$smb_dir/gvfs/src"
no_temporaries
echo "PASS"
