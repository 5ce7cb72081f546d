#!/usr/bin/env bash
# zelo-cli's net-connect and net-disconnect against a real Samba share on 127.0.0.1: the password comes
# on standard input (never the command line), the folder printed is the share as GVfs shows it, and
# net-disconnect unmounts it without force.
#   net_connect_smb.sh ZELO-CLI
set -uo pipefail
cli=$1
. "$(dirname "$0")/smb_lib.sh"
smb_begin
export ZELO_DRIVES="C=/"
echo "from the share" >"$smb_dir/seen.txt"

step="connect"
smb_unmount_share || smb_fail "the fixture's own mount did not go"
# The fixture's guest share takes any password of a user it does not know.
folder=$(printf 'not-a-secret\n' | timeout 60 "$cli" net-connect "$smb_url" 2>"$smb_work/err") \
  || smb_fail "net-connect failed: $(cat "$smb_work/err")"
[ "$folder" = "$smb_mount" ] || smb_fail "net-connect printed '$folder', the share is at $smb_mount"
SMB_WAIT=300 smb_until smb_share_readable || smb_fail "the share printed cannot be read"
[ "$(cat "$folder/seen.txt")" = "from the share" ] || smb_fail "the folder printed is not the share"

step="disconnect"
timeout 60 "$cli" -v net-disconnect "$folder" >"$smb_work/out" 2>"$smb_work/err" \
  || smb_fail "net-disconnect failed: $(cat "$smb_work/out" "$smb_work/err")"
share_gone() { [ ! -e "$smb_mount" ]; }
SMB_WAIT=100 smb_until share_gone || smb_fail "the share is still mounted"
grep -qx "disconnected $folder" "$smb_work/out" || smb_fail "net-disconnect -v said: $(cat "$smb_work/out")"
# A folder that is no share is never unmounted.
timeout 60 "$cli" net-disconnect "$smb_work" 2>"$smb_work/err" && smb_fail "net-disconnect took a local folder"
grep -q 'not on a network drive' "$smb_work/err" || smb_fail "a local folder: $(cat "$smb_work/err")"
echo "PASS"
