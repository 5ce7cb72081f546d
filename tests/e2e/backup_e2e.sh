#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb and openbox over a drive map of a temporary tree and backs a folder up
# as a person would: selects the directory, opens the directory menu, chooses "BackUp", answers Yes,
# enters the destination in the dialog's own pane, presses "実行", answers the plan with Yes, opens the detail list from the result
# window and closes both, then compares the trees. Exit code 0 at the end through 終了.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"
# On tmpfs when there is one: the backup ends with a sync of its file system, slow on a busy disk.
e2e_begin "$1" /dev/shm

# C: holds the program, the source src and the backup folder, which already holds an older copy of src
# with an extra file and an extra directory the backup must delete.
mkdir -p "$work/c/src/sub/deeper" "$work/c/backup/src/gone" "$work/c/src/empty"
printf 'one' >"$work/c/src/one.txt"
printf 'two' >"$work/c/src/sub/two.txt"
printf 'three' >"$work/c/src/sub/deeper/three.txt"
printf 'old' >"$work/c/backup/src/one.txt"
touch -d '2001-01-01' "$work/c/backup/src/one.txt"
printf 'x' >"$work/c/backup/src/extra.txt"
printf 'y' >"$work/c/backup/src/gone/y.txt"
export ZELO_DRIVES="C=$work/c"

start_display
start_window_manager
start_program
settle_main_window

step="backup through the dialog"
open_backup 2 # src: the pane lists C:\, backup, src
# The dialog's pane (8, 96) lists C:\, backup, src: double-click backup to make it the destination.
origin "$dialog"
point $((X + 60)) $((Y + 96 + 21 + 10))
xdotool click --repeat 2 --delay 80 1
click_at "$dialog" 208 385 # 実行

step="the plan, then the result and its detail list"
# The plan comes first (its own test works it): はい.
until_true dialog_active '注意' || fail "実行 showed no plan"
click_at "$(xdotool getactivewindow)" 88 239
until_true dialog_active '結果' || fail "no result window"
result=$(xdotool getactivewindow)
import -window "$result" "$work/result.png" 2>/dev/null
click_at "$result" 346 215 # the count of newer destination files opens the detail list
until_true dialog_active 'Form9' || fail "the detail button opened nothing"
click_at "$(xdotool getactivewindow)" 320 337 # OK
until_true dialog_active '結果' || fail "the detail window did not close"
click_at "$result" 196 255 # OK
wait_windows 1

# The backup is the source, file for file and byte for byte; the extra entries are gone.
diff -r "$work/c/src" "$work/c/backup/src" >"$work/diff.txt" 2>&1 || fail "trees differ: $(cat "$work/diff.txt")"
[ "$(stat -c %Y "$work/c/src/one.txt")" = "$(stat -c %Y "$work/c/backup/src/one.txt")" ] || fail "time not kept"

# Close through the menu bar: its first item is 終了.
click_at "$win" 12 $((menu_h / 2))
expect_clean_exit
