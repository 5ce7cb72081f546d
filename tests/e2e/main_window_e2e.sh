#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb with a light window manager (openbox), so focus and activation
# behave as on a desktop, over a drive map of a temporary tree, and works it as a person would: enters
# directories with the keyboard and the mouse, saves the file pane's list (the saved text shows what the
# pane listed, and a typed drive path lands on that drive), sees a file another program made appear in
# the pane without a command of its own, opens the pane menus with the Menu key,
# creates directories through the input dialog (its prefill kept; a bare name; centred on the main window
# on its first showing and later), deletes a 20,000-file folder (the question is gone and the progress
# window up while the deletion runs beside the window) and stops a move of 20,000 files to the trash with
# the progress window's stop button, closes it through the menu bar and expects exit code 0. Every wait polls for what it expects (a window, a file); menu items
# are reached by their names.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"
e2e_begin "$1"

# The tree: C: is $work/c and holds the program, so the program starts on C:\.
mkdir -p "$work/c/alpha" "$work/c/beta" "$work/c/gamma" "$work/out"
printf 'x' >"$work/c/root.txt"
printf '1' >"$work/c/beta/one.txt"
printf '2' >"$work/c/beta/two.txt"
printf '3' >"$work/c/gamma/three.txt"
# Two large folders below gamma, listed after the folder made there later: a tree of 20,000 files in 100
# folders to delete, and 20,000 files in one folder for the trash.
for d in $(seq 0 99); do
  mkdir -p "$work/c/gamma/zbig/d$d"
  (cd "$work/c/gamma/zbig/d$d" && touch $(seq -f 'f%g' 0 199))
done
mkdir -p "$work/c/gamma/zflat"
(cd "$work/c/gamma/zflat" && seq -f 'f%g' 0 19999 | xargs touch)
export ZELO_DRIVES="C=$work/c;D=$work/out"
export XDG_DATA_HOME="$work/c/data"

start_display
start_window_manager "$2"
start_program

settle_main_window

# Opens PopupMenu1 on the first file and saves the list through オプション > File List を保存, typing $1
# into the save dialog.
save_list() {
  file_item 0
  xdotool click 1 click 3
  wait_windows 2
  walk_to popup1 Dup1 0
  xdotool key Right
  wait_windows 3
  walk_to dup1 FileList1 1
  xdotool key Return
  wait_windows 2
  dialog=$(windows | grep -vx "$win" | head -n 1)
  until_true dialog_active "$(xdotool getwindowname "$dialog")" || fail "the save dialog did not become active"
  xdotool type --delay 20 "$1"
  xdotool key Return
  wait_windows 1
}

step="keyboard navigation into beta"
# Keyboard: focus the directory pane on the root entry, Down twice to beta, Enter enters it.
dir_item 0
xdotool click 1
xdotool key Down Down Return
save_list 'D:\list1.txt'
until_true test -s "$work/out/list1.txt" || fail "the list was not saved to list1.txt"
printf 'one.txt\r\ntwo.txt\r\n' | cmp -s - "$work/out/list1.txt" || fail "after entering beta the pane listed: $(od -c "$work/out/list1.txt")"

step="mouse navigation into gamma"
# Mouse: double-click the root entry (up to C:\), then gamma (root, alpha, beta, gamma).
dir_item 0
xdotool click --repeat 2 --delay 80 1
dir_item 3
xdotool click --repeat 2 --delay 80 1
save_list 'D:\list2.txt'
until_true test -s "$work/out/list2.txt" || fail "the list was not saved to list2.txt"
printf 'one.txt\r\ntwo.txt\r\nthree.txt\r\n' | cmp -s - "$work/out/list2.txt" || fail "after entering gamma the saved list was: $(od -c "$work/out/list2.txt")"

step="save dialog with a drive path"
# A drive path typed into the save dialog names a file on that drive.
save_list 'D:\list3.txt'
until_true test -s "$work/out/list3.txt" || fail "the list typed as D:\\list3.txt is not on D:"
[ -e "$work/c/gamma/D:\\list3.txt" ] && fail "the save dialog wrote a file named D:\\list3.txt"

step="a file made by another program appears"
# Nothing of Zelo's runs: the watch on the shown folder refills the pane. Each saved list holds the
# earlier ones too, so the name shows only once the pane lists it; polled for at most 30 s.
printf 'o' >"$work/c/gamma/outside.txt"
listed_outside() {
  rm -f "$work/out/list4.txt"
  save_list 'D:\list4.txt'
  until_true test -s "$work/out/list4.txt" || fail "the list was not saved to list4.txt"
  grep -q '^outside\.txt' "$work/out/list4.txt"
}
deadline=$((SECONDS + 30))
until listed_outside; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the file made outside was not listed: $(od -c "$work/out/list4.txt")"
done

# The Menu key opens each pane's menu at its focused item, inside the pane.
menu_inside() { # $1 pane left, $2 pane top, $3 width, $4 height (top panel coordinates)
  local popup
  popup=$(windows | grep -vx "$win" | head -n 1)
  origin "$win"
  local left=$((X + $1)) top=$((Y + menu_h + $2))
  origin "$popup"
  [ "$X" -ge "$left" ] && [ "$X" -lt $((left + $3)) ] && [ "$Y" -ge "$top" ] && [ "$Y" -lt $((top + $4)) ] \
    || fail "the menu opened at $X,$Y, outside the pane at $left,$top ($3 x $4)"
}
step="Menu key on the file pane"
file_item 0
xdotool click 1 key Menu
wait_windows 2
menu_inside 328 60 401 378
xdotool key Escape
wait_windows 1
step="Shift+F10 on the directory pane"
dir_item 1
xdotool click 1 key shift+F10
wait_windows 2
menu_inside 8 58 313 382
xdotool key Escape
wait_windows 1

# ＤＩＲ作成 keeps its prefill C:\gamma\ with the caret after it: BackSpace and "2" make C:\gamma2
# (a selected prefill would be replaced and make C:\gamma\2 instead).
make_dir() { # $1: keys before typing, $2: the text typed
  dir_item 1
  xdotool click 1 key Menu
  wait_windows 2
  walk_to popup2 MKDIR1 0
  xdotool key Return
  until_true dialog_active '入力' || fail "the input dialog did not become active"
  expect_centred '入力' # on every showing alike
  [ -n "$1" ] && xdotool key "$1"
  xdotool type --delay 20 "$2"
  xdotool key Return
  wait_windows 1
}
step="directory creation keeps its prefill"
make_dir BackSpace 2
until_true test -d "$work/c/gamma2" || fail "the prefill was not kept: $(ls -R "$work/c")"
# A bare name is made in the current directory.
step="directory creation with a bare name"
make_dir ctrl+a bare
until_true test -d "$work/c/gamma/bare" || fail "the bare name was not made in C:\\gamma: $(ls -R "$work/c")"

# The program's visible window captioned $1 (empty when there is none).
shown_window() { xdotool search --all --onlyvisible --pid "$app" --name "^$1\$" 2>/dev/null | head -n 1; }
entries() { find "$1" -mindepth 1 | wc -l; }

step="ＤＩＲの削除 beside the window"
# The pane lists C:\, gamma, bare, zbig and zflat; Yes to the question, and while the deletion runs the
# question is gone and the progress window up, without its stop button.
dir_item 3
xdotool click 1 key Menu
wait_windows 2
walk_to popup2 N1 0
xdotool key Return
until_true dialog_active '注意' || fail "ＤＩＲの削除 asked nothing"
question=$(xdotool getactivewindow)
xdotool key Return # Yes is the default of the menu's question
progress_up() { [ -n "$(shown_window '進行状況')" ]; }
WAIT_TENTHS=100 until_true progress_up || fail "no progress window while the folder was deleted"
xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -qx "$question" && fail "the question stayed on the screen"
[ -d "$work/c/gamma/zbig" ] || fail "the deletion was over before the progress window was up"
until_true dialog_active '報告' || fail "no report after the deletion"
[ -d "$work/c/gamma/zbig" ] && fail "the report came with zbig still there"
xdotool key Return
wait_windows 1

step="the trash stopped part-way"
# zflat is the pane's row 3 now; every file selected, Delete moves them to the trash until 中止.
settle_main_window
dir_item 3
xdotool click --repeat 2 --delay 80 1
file_item 0
xdotool click 1 key ctrl+a Delete
WAIT_TENTHS=100 until_true progress_up || fail "no progress window while the files went to the trash"
click_at "$(shown_window '進行状況')" 415 26 # 中止
until_true dialog_active '報告' || fail "no report after the stop"
left=$(entries "$work/c/gamma/zflat")
[ "$left" -gt 0 ] || fail "the stop left nothing in zflat"
[ $((left + $(entries "$work/c/data/Trash/files"))) -eq 20000 ] || fail "files were lost: $left left"
xdotool key Return
wait_windows 1

step="close through 終了"
# Close through the menu bar: its first item is 終了.
origin "$win"
point $((X + 12)) $((Y + menu_h / 2))
xdotool click 1
expect_clean_exit
