#!/usr/bin/env bash
# The share goes away in the middle of zelo-cli's tree copy and of its backup (the server is stopped):
# the run ends with a message and a non-zero exit, every earlier file on the share holds either its
# old bytes or the whole new ones (never part of a file under its own name, and never no file at all),
# and once the server is back and the share mounted again, a second backup completes. Both ways to the
# share: the direct client, and the GVfs mount alone (ZELO_SMB_DIRECT=0).
#   share_lost_smb.sh ZELO-CLI
set -uo pipefail
cli=$1
. "$(dirname "$0")/smb_lib.sh"
smb_begin
export ZELO_DRIVES="C=/"

# The source: 3 folders of 150 files of 16 KiB and 2 of 4 MiB, all newer than the earlier copy on the
# share, which holds the same names with other bytes.
src=$smb_work/src
old=$smb_work/old
for d in d1 d2 d3; do
  mkdir -p "$src/$d" "$old/$d"
  for i in $(seq 150); do
    head -c 16384 /dev/urandom >"$src/$d/f$i"
    head -c 1000 /dev/urandom >"$old/$d/f$i"
  done
  for i in 1 2; do
    head -c 4194304 /dev/urandom >"$src/$d/big$i"
    head -c 1000 /dev/urandom >"$old/$d/big$i"
  done
done
find "$old" -exec touch -d '2020-01-01 00:00:00' {} +
find "$src" -exec touch -d '2024-01-01 00:00:00' {} +

# Every file below the server's $1 has the old bytes or the source's, whole.
only_whole_files() {
  local f
  while IFS= read -r -d '' f; do
    case "$f" in */.zelo-*) continue ;; esac # a temporary name, never a file's own
    cmp -s "$smb_dir/$1/$f" "$old/$f" || cmp -s "$smb_dir/$1/$f" "$src/$f" || smb_fail "$1/$f holds part of a file"
  done < <(cd "$smb_dir/$1" && find . -type f -print0)
  # An update never deletes the earlier file before the new one holds its name. The share has no rename
  # that replaces in one step, so a share lost between the two renames leaves the earlier file under
  # the hidden name it was moved aside to, beside its own name: kept, never gone.
  local h kept
  while IFS= read -r -d '' f; do
    [ -f "$smb_dir/$1/$f" ] && continue
    kept=
    for h in "$smb_dir/$1/$(dirname "$f")"/.zelo-*; do
      [ -f "$h" ] && { cmp -s "$h" "$old/$f" || cmp -s "$h" "$src/$f"; } && kept=$h && break
    done
    [ -n "$kept" ] || smb_fail "$1/$f is gone: neither the earlier file nor the new one, under any name"
    echo "kept under a hidden name: $1/$f"
  done < <(cd "$old" && find . -type f -print0)
}

updated_files() { find "$smb_dir/$1" -type f -newermt '2023-01-01' | wc -l; }
some_updated() { [ "$(updated_files "$1")" -ge 20 ]; }

# $1: the folder on the share; the rest: zelo-cli's arguments. Starts the run, stops the server once
# 20 files are in place, and checks how the run ended and what the share holds.
lose_share_during() {
  local where=$1
  shift
  rm -rf "${smb_dir:?}/$where"
  mkdir -p "$smb_dir/$where"
  cp -a "$old" "$smb_dir/$where/src"
  timeout 300 "$cli" "$@" >"$smb_work/out" 2>"$smb_work/err" &
  local run=$!
  SMB_WAIT=600 smb_until some_updated "$where" || smb_fail "no file was copied within 60 s"
  smb_stop_server
  wait "$run"
  local status=$?
  [ "$status" -ne 124 ] || smb_fail "zelo-cli did not end within 300 s of losing the share"
  [ "$status" -ne 0 ] || smb_fail "zelo-cli ended with 0 after losing the share: $(cat "$smb_work/out")"
  [ -s "$smb_work/err" ] || smb_fail "no message after losing the share"
  echo "told: $(head -c 400 "$smb_work/err")"
  [ "$(updated_files "$where")" -lt 459 ] || smb_fail "the server stopped after the run had copied everything"
  only_whole_files "$where/src"
  smb_start_server
  # GVfs reconnects to a server that is back; a mount it has given up on is mounted again.
  if ! SMB_WAIT=100 smb_until smb_share_readable; then
    smb_unmount_share
    smb_mount_share || smb_fail "the share could not be mounted again"
  fi
}

for direct in 1 0; do
  export ZELO_SMB_DIRECT=$direct
  step="tree copy (direct $direct)"
  lose_share_during copy copy-tree "$src" "$smb_mount/copy"

  step="backup (direct $direct)"
  lose_share_during backup mirror "$src" "$smb_mount/backup"

  step="backup again (direct $direct)"
  timeout 300 "$cli" mirror "$src" "$smb_mount/backup" >"$smb_work/out" 2>"$smb_work/err" \
    || smb_fail "the second backup failed: $(cat "$smb_work/out" "$smb_work/err")"
  diff -r "$src" "$smb_dir/backup/src" >/dev/null || smb_fail "the second backup left the share unlike the source"
done
echo "PASS"
