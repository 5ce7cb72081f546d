#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb and openbox over a drive map of a temporary tree and works the
# windows as a person would, with the keyboard and the mouse: Delete moves a file to the desktop's
# trash (with its .trashinfo record); Shift+Delete asks first and Space or Enter keep the file; Enter in
# the file information window of two files closes it and changes nothing; the network connect dialog
# takes typing into its address and says when it is empty; F7 makes a directory; F5 copies a folder and
# Enter closes the detail and result windows; a file dragged onto a directory row is copied into that
# directory, with Ctrl copied, with Shift moved. Every wait polls; menu items are reached by their names.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"
e2e_begin "$1" /dev/shm

# C: holds the program, three files and two folders; the home trash is $work/data/Trash.
mkdir -p "$work/c/dest" "$work/c/src/sub" "$work/data"
printf 'keep' >"$work/c/keep.txt"
printf 'report' >"$work/c/report.txt"
printf 'trash' >"$work/c/trashme.txt"
printf 'one' >"$work/c/src/one.txt"
printf 'two' >"$work/c/src/sub/two.txt"
chmod a-w "$work/c/keep.txt" # ReadOnly: the two files differ in it
export ZELO_DRIVES="C=$work/c"
export XDG_DATA_HOME="$work/data"

start_display
start_window_manager "${2:-openbox}"
start_program
settle_main_window

# A dialog captioned $1 becomes active; Return is typed into it.
return_in() {
  until_true dialog_active "$1" || fail "no active window captioned $1"
  xdotool key Return
}

step="Delete moves the selected file to the trash"
# The file pane lists keep.txt, report.txt, trashme.txt, zelo32.
file_item 2
xdotool click 1 key Delete
expect_centred '報告' # the report, centred on the main window
return_in '報告'
wait_windows 1
[ -f "$work/data/Trash/files/trashme.txt" ] && [ ! -e "$work/c/trashme.txt" ] || fail "trashme.txt is not in the trash"
grep -qx "Path=$work/c/trashme.txt" "$work/data/Trash/info/trashme.txt.trashinfo" \
  || fail "the record names no original path: $(cat "$work/data/Trash/info/trashme.txt.trashinfo")"
grep -Eqx 'DeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}' \
  "$work/data/Trash/info/trashme.txt.trashinfo" || fail "the record has no deletion date"

step="Shift+Delete asks first; Space and Enter keep the file"
# The file pane lists keep.txt, report.txt, zelo32.
file_item 1
xdotool click 1
for key in space Return; do
  xdotool key shift+Delete
  until_true dialog_active '注意' || fail "Shift+Delete asked nothing"
  xdotool key "$key"
  wait_windows 1
  [ -f "$work/c/report.txt" ] || fail "$key on the question deleted report.txt"
done

step="Enter closes the file information window and changes nothing"
file_item 0
xdotool click 1
file_item 1
xdotool keydown ctrl click 1 keyup ctrl
modes=$(stat -c %a "$work/c/keep.txt" "$work/c/report.txt")
xdotool key Menu
wait_windows 2
walk_to popup1 N15 0
xdotool key Return
expect_centred 'Ｆｉｌｅ情報' # on its first showing too
return_in 'Ｆｉｌｅ情報'
wait_windows 1
[ "$(stat -c %a "$work/c/keep.txt" "$work/c/report.txt")" = "$modes" ] || fail "the modes changed: $modes to $(stat -c %a "$work/c/keep.txt" "$work/c/report.txt")"

step="the network connect dialog"
# The menu bar: 終了, ネットワ－ク, HEILP; ネットワ－ク lies right of 終了.
origin "$win"
point $((X + 90)) $((Y + menu_h / 2))
xdotool click 1
wait_windows 2
xdotool key Down Return
until_true dialog_active 'ネットワ－ク ドライブの接続' || fail "接続 opened no dialog"
# Typing goes into the address: the share cannot be reached and the failure is reported (an empty
# address would have been refused with a warning instead).
xdotool type --delay 20 'smb://nowhere.invalid/share'
xdotool key Return
return_in 'Zelo'
until_true dialog_active 'ネットワ－ク ドライブの接続' || fail "the dialog did not stay after the failure"
# Emptied again, OK says what is missing and the dialog stays.
xdotool key ctrl+a BackSpace Return
return_in '警告'
until_true dialog_active 'ネットワ－ク ドライブの接続' || fail "the dialog did not stay after the warning"
xdotool key Escape
wait_windows 1
settle_main_window

step="F7 makes a directory"
dir_item 0
xdotool click 1 key F7
until_true dialog_active '入力' || fail "F7 opened no input dialog"
xdotool type --delay 20 'made'
xdotool key Return
wait_windows 1
until_true test -d "$work/c/made" || fail "F7 made no directory: $(ls "$work/c")"

step="F5 copies a folder; Enter closes the detail and result windows"
# The directory pane lists C:\, dest, made, src.
dir_item 3
xdotool click 1 key F5
until_true dialog_active 'フオルダーコピー' || fail "F5 opened no operation dialog"
dialog=$(xdotool getactivewindow)
# The dialog's own pane (8, 96) lists C:\, dest, made, src: double-click dest, then 実行.
origin "$dialog"
point $((X + 60)) $((Y + 96 + 21 + 10))
xdotool click --repeat 2 --delay 80 1
point $((X + 208)) $((Y + 385))
xdotool click 1
until_true dialog_active '結果' || fail "no result window"
result=$(xdotool getactivewindow)
# Where a window's frame begins (client position less its offset in the frame).
frame_origin() {
  eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/ { ax = $4 } /Absolute upper-left Y/ { ay = $4 }
    /Relative upper-left X/ { rx = $4 } /Relative upper-left Y/ { ry = $4 } END { print "FX=" ax - rx " FY=" ay - ry }')"
}
frame_origin "$win"; mx=$FX; my=$FY
frame_origin "$result"
# On its first showing too, 250, 100 from the main window's frame.
[ "$FX,$FY" = "$((mx + 250)),$((my + 100))" ] || fail "the result window opened at $FX,$FY, the main window at $mx,$my"
origin "$result"
point $((X + 346)) $((Y + 215)) # the count of newer files opens the detail list
xdotool click 1
return_in 'Form9'
return_in '結果'
wait_windows 1
[ -f "$work/c/dest/src/sub/two.txt" ] || fail "the folder was not copied"

step="a file dragged onto a directory is copied there"
# The directory pane lists C:\, dest, made, src; the file pane keep.txt, report.txt, zelo32.
file_item 1 # report.txt alone
xdotool click 1
drag_files 1 1
return_in 'Zelo' # the summary of the copy (the count of windows would include the drag's own)
wait_windows 1
[ "$(cat "$work/c/dest/report.txt" 2>/dev/null)" = report ] || fail "report.txt was not copied to dest"
[ -f "$work/c/report.txt" ] || fail "the dragged file left its folder"

step="Ctrl while dragging copies"
file_item 1
xdotool click 1
drag_files 1 2 ctrl
return_in 'Zelo'
wait_windows 1
[ -f "$work/c/made/report.txt" ] && [ -f "$work/c/report.txt" ] || fail "Ctrl-drag did not copy: $(ls "$work/c" "$work/c/made")"

step="Shift while dragging moves"
file_item 1
xdotool click 1
drag_files 1 3 shift
return_in 'Zelo'
wait_windows 1
[ -f "$work/c/src/report.txt" ] && [ ! -e "$work/c/report.txt" ] || fail "Shift-drag did not move: $(ls "$work/c" "$work/c/src")"

step="close through 終了"
origin "$win"
point $((X + 12)) $((Y + menu_h / 2))
xdotool click 1
expect_clean_exit
