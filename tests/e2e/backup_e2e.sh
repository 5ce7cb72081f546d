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

# The first visible window of the program captioned exactly $1 (waits up to 10 s).
window_named() {
  local id=
  for _ in $(seq 100); do
    id=$(xdotool search --all --onlyvisible --pid "$app" --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
gone() {
  for _ in $(seq 100); do
    xdotool search --all --onlyvisible --pid "$app" --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
# Clicks (button $4, default left) at x, y inside a window's client area.
click_in() {
  xdotool mousemove --window "$1" --sync "$2" "$3"
  xdotool click "${4:-1}"
}

# The directory pane lists C:\, then backup and src.
click_in "$win" 60 $((menu_h + 58 + 21 * 2 + 10))
xdotool click 3 # where the pointer is (a move --sync onto the same spot would wait for a motion)
wait_windows 2
walk_to popup2 BackUp1 0
xdotool key Return

caution=$(window_named '注意') || fail "no question captioned 注意"
xdotool windowactivate --sync "$caution" 2>/dev/null
xdotool key Return # Yes is the default button

dialog=$(window_named 'フオルダーのバックアップ') || fail "no dialog captioned フオルダーのバックアップ"
sleep 0.5
# The dialog's pane (8, 96) on C:\ lists C:\, backup, src: double-click backup to enter it.
xdotool mousemove --window "$dialog" --sync 60 $((96 + 21 + 10))
xdotool click --repeat 2 --delay 80 1
sleep 0.5
click_in "$dialog" 208 385 # 実行

# The plan comes first (its own test works it): はい.
until_true dialog_active '注意' || fail "実行 showed no plan"
click_in "$(xdotool getactivewindow)" 88 239

result=$(window_named '結果') || fail "no result window"
sleep 0.5
import -window "$result" "$work/result.png" 2>/dev/null
click_in "$result" 346 215 # the count of newer destination files opens the detail list
detail=$(window_named 'Form9') || fail "the detail button opened nothing"
sleep 0.3
click_in "$detail" 320 337 # OK
gone 'Form9' || fail "the detail window did not close"
click_in "$result" 196 255 # OK
gone '結果' || fail "the result window did not close"
gone 'フオルダーのバックアップ' || fail "the dialog did not close"

# The backup is the source, file for file and byte for byte; the extra entries are gone.
diff -r "$work/c/src" "$work/c/backup/src" >"$work/diff.txt" 2>&1 || fail "trees differ: $(cat "$work/diff.txt")"
[ "$(stat -c %Y "$work/c/src/one.txt")" = "$(stat -c %Y "$work/c/backup/src/one.txt")" ] || fail "time not kept"

# Close through the menu bar: its first item is 終了.
eval "$(xdotool getwindowgeometry --shell "$win")"
click_in "$win" 12 $((menu_h / 2))
expect_clean_exit
