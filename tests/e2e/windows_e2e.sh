#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb and openbox over a drive map of a temporary tree and works the
# windows as a person would, with the keyboard and the mouse: Delete moves a file to the desktop's
# trash (with its .trashinfo record); Enter in the file information window of two files closes it and
# changes nothing; the network connect dialog takes typing into its address and says when it is empty;
# F7 makes a directory; F5 copies a folder and Enter closes the detail and result windows; a file
# dragged onto a directory is copied there. Every wait polls; menu items are reached by their names.
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

# CX, CY: the centre of window $1's client area.
centre() {
  eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { print "CX=" x + int(w / 2) " CY=" y + int(h / 2) }')"
}
near() { [ $(($1 - $2)) -le 2 ] && [ $(($2 - $1)) -le 2 ]; }

# A dialog captioned $1 becomes active; Return is typed into it.
return_in() {
  until_true dialog_active "$1" || fail "no active window captioned $1"
  xdotool key Return
}

step="Delete moves the selected file to the trash"
# The file pane lists keep.txt, report.txt, trashme.txt, zelo32.
file_item 2
xdotool click 1 key Delete
until_true dialog_active '報告' || fail "no report after Delete"
# The report is centred on the main window.
centre "$win"; mx=$CX; my=$CY
centre "$(xdotool getactivewindow)"
near "$CX" "$mx" && near "$CY" "$my" || fail "the report is centred at $CX,$CY, the main window at $mx,$my"
return_in '報告'
wait_windows 1
[ -f "$work/data/Trash/files/trashme.txt" ] && [ ! -e "$work/c/trashme.txt" ] || fail "trashme.txt is not in the trash"
grep -qx "Path=$work/c/trashme.txt" "$work/data/Trash/info/trashme.txt.trashinfo" \
  || fail "the record names no original path: $(cat "$work/data/Trash/info/trashme.txt.trashinfo")"
grep -Eqx 'DeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}' \
  "$work/data/Trash/info/trashme.txt.trashinfo" || fail "the record has no deletion date"

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
file_item 1 # report.txt alone
xdotool click 1
# The press lies 30 pixels from the click, so that the two never count as a double click.
origin "$win"
point $((X + 480)) $((Y + menu_h + 60 + 22 + 11))
xdotool mousedown 1
for dx in 40 -40 -120; do point $((X + 450 + dx)) $((Y + menu_h + 60 + 22 + 11)); done
dir_item 1 # dest
dir_item 1
xdotool mouseup 1
return_in 'Zelo' # the summary of the copy (the count of windows would include the drag's own)
wait_windows 1
[ "$(cat "$work/c/dest/report.txt" 2>/dev/null)" = report ] || fail "report.txt was not copied to dest"
[ -f "$work/c/report.txt" ] || fail "the dragged file left its folder"

step="close through 終了"
origin "$win"
point $((X + 12)) $((Y + menu_h / 2))
xdotool click 1
expect_clean_exit
