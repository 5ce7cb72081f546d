#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb and openbox over a drive map of a temporary tree and works a backup's
# plan as a person would: BackUp from the directory pane shows the plan with its numbers; 詳細 lists the
# files to delete and replace above it; No (Enter, the default) changes nothing; Yes runs. A source that
# came up empty asks a second time and Enter, on its default No, keeps the backup; the box for earlier versions keeps what a run
# deletes and replaces in the .versions folder beside the backup. Every wait polls; menu items are reached
# by their names; the texts are read through the clipboard.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"
# On tmpfs when there is one: the backup ends with a sync of its file system, slow on a busy disk.
e2e_begin "$1" /dev/shm

# C: holds the program, the source src and the backup folder, which holds an older copy of src with an
# extra file and an extra directory.
mkdir -p "$work/c/src/sub" "$work/c/backup/src/gone"
printf 'one' >"$work/c/src/one.txt"
printf 'two' >"$work/c/src/sub/two.txt"
printf 'old' >"$work/c/backup/src/one.txt"
touch -d '2001-01-01' "$work/c/backup/src/one.txt"
printf 'x' >"$work/c/backup/src/extra.txt"
printf 'y' >"$work/c/backup/src/gone/y.txt"
export ZELO_DRIVES="C=$work/c"

start_display
start_window_manager "${2:-openbox}"
start_program
settle_main_window

# The backup as it is: every entry with its size and time.
listing() { (cd "$work/c/backup" && find . -printf '%p %s %T@ %y\n' | sort); }

# 実行, then the plan up and active: its id in plan.
run_to_plan() {
  click_at "$dialog" 208 385
  until_true dialog_active '注意' || fail "実行 showed no plan"
  plan=$(xdotool getactivewindow)
}
# A window captioned $1 other than window $2 active.
other_active() { [ "$(xdotool getactivewindow 2>/dev/null)" != "$2" ] && dialog_active "$1"; }

step="the plan shows what the backup will do"
open_backup 2 # src: the pane lists C:\, backup, src
# The dialog's pane (8, 96) lists C:\, backup, src: double-click backup to make it the destination.
origin "$dialog"
point $((X + 60)) $((Y + 96 + 21 + 10))
xdotool click --repeat 2 --delay 80 1
before=$(listing)
run_to_plan
expect_plan_lines '作成するフオルダー　1' '新しいファイル　1' '更新するファイル　1' '削除するファイル　2' '削除するフオルダー　1'

step="詳細 lists what goes, above the plan"
click_at "$plan" 368 239
until_true dialog_active '詳細' || fail "詳細 opened no list"
detail=$(xdotool getactivewindow)
click_at "$detail" 100 100
xdotool key ctrl+a ctrl+c
until_true copied "$summary" || fail "the list could not be copied"
listed=$(clipboard)
for line in "削除　C:\\backup\\src\\extra.txt" "削除　C:\\backup\\src\\gone\\" "更新　C:\\backup\\src\\one.txt"; do
  grep -qxF "$line" <<<"$listed" || fail "the list lacks \"$line\": $listed"
done
xdotool key Return
until_true dialog_active '注意' || fail "the plan did not stay open under its list"

step="No, the default, changes nothing"
xdotool key Return
wait_windows 1
[ "$(listing)" = "$before" ] || fail "No changed the backup: $(diff <(echo "$before") <(listing))"

step="Yes runs the backup"
open_backup 2
run_to_plan
click_at "$plan" 88 239
until_true dialog_active '結果' || fail "no result window"
xdotool key Return
wait_windows 1
diff -r "$work/c/src" "$work/c/backup/src" >"$work/diff.txt" 2>&1 || fail "trees differ: $(cat "$work/diff.txt")"

step="a source that came up empty asks again; Enter, on its default No, keeps the backup"
rm -r "$work/c/src/one.txt" "$work/c/src/sub"
before=$(listing)
open_backup 2
run_to_plan
click_at "$plan" 88 239
until_true other_active '注意' "$plan" || fail "no second question"
# It stands above the operation dialog (the plan has closed), not on its own.
xprop -id "$(xdotool getactivewindow)" WM_TRANSIENT_FOR | grep -qi "$(printf '0x%x' "$dialog")\$" \
  || fail "the second question is not above the dialog: $(xprop -id "$(xdotool getactivewindow)" WM_TRANSIENT_FOR)"
xdotool key Return # a reflex: the question's default is No
wait_windows 1
[ "$(listing)" = "$before" ] || fail "No changed the backup: $(diff <(echo "$before") <(listing))"

step="the versions box keeps what the run deletes and replaces"
printf 'ONE' >"$work/c/src/one.txt"
touch -d '+1 hour' "$work/c/src/one.txt"
open_backup 2
click_at "$dialog" 466 76 # 以前の版を残す
run_to_plan
click_at "$plan" 88 239
until_true dialog_active '結果' || fail "no result window"
xdotool key Return
wait_windows 1
[ "$(cat "$work/c/backup/src/one.txt")" = ONE ] && [ ! -e "$work/c/backup/src/sub" ] || fail "the backup did not run"
runs=("$work/c/backup/src.versions"/*)
[ "${#runs[@]}" -eq 1 ] && [[ "${runs[0]}" =~ /[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{6}$ ]] \
  || fail "no folder of the run in src.versions: ${runs[*]}"
[ "$(cat "${runs[0]}/one.txt")" = one ] && [ "$(cat "${runs[0]}/sub/two.txt")" = two ] \
  || fail "the earlier versions were not kept: $(cd "${runs[0]}" && find .)"

step="close through 終了"
settle_main_window
origin "$win"
point $((X + 12)) $((Y + menu_h / 2))
xdotool click 1
expect_clean_exit
