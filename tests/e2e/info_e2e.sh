#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb over a drive map of a temporary tree and reaches the information
# and shortcut commands through the pop-up menus with the keyboard: folder information (容量), the
# directory attributes dialog, file information, and shortcuts in the drive root and on the desktop.
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"
e2e_begin "$1"

# C: is $work/c and holds the program and report.txt (the first file of the pane); the desktop is
# $work/c/desk through the user's XDG directories.
mkdir -p "$work/c/sub" "$work/c/desk" "$work/config"
printf 'report' >"$work/c/report.txt"
printf 'x' >"$work/c/sub/x.txt"
printf 'XDG_DESKTOP_DIR="%s"\n' "$work/c/desk" >"$work/config/user-dirs.dirs"
export ZELO_DRIVES="C=$work/c"
export XDG_CONFIG_HOME="$work/config"

start_display
start_window_manager
start_program
settle_main_window

# The submenus these commands sit in, as the keyboard walks them.
info2=(N24 N23)
shortcut1=(N34 N35)

# Opens the pop-up menu of the item under the pointer (clicked first) and walks to the item named $2
# of menu $1.
popup_at() {
  xdotool click 1 click 3
  wait_windows 2
  walk_to "$1" "$2" 0
}
# Chooses item $2 of the submenu $1 that Right opens from the active item, and types Return.
submenu_item() {
  xdotool key Right
  walk_to "$1" "$2" 1
  xdotool key Return
}
# The dialog captioned $1 comes up; the keys $2... are typed into it and it goes.
answer() {
  until_true dialog_active "$1" || fail "no active window captioned $1"
  shift
  xdotool key "$@"
  wait_windows 1
}

step="容量"
# Directory pane: 情報 > 容量 counts the tree and opens the folder information dialog; OK closes it.
dir_item 0
popup_at popup2 N6
submenu_item info2 N24
answer 'フォルダー　情報' Return

step="属性，ラベル"
# Directory pane: 情報 > 属性，ラベル opens the directory attribute dialog; Escape closes it.
settle_main_window
dir_item 0
popup_at popup2 N6
submenu_item info2 N23
answer 'Ｄｉｒの属性' Escape

step="file information"
# File pane: 情報 opens the file information dialog for report.txt; Return presses a button of it.
settle_main_window
file_item 0
popup_at popup1 N15
xdotool key Return
until_true dialog_active 'Ｆｉｌｅ情報' || fail "情報 opened no file information dialog"
xdotool key Return
# Whichever button it was, the dialog closes; after "変更" a report comes first.
report_answered() {
  dialog_active '報告' && xdotool key Return
  windows_open 1
}
until_true report_answered || fail "the file information dialog did not close"

# File pane: オプション > ショ－トカット作成 > デスクトップ (N34), then > 現在のパス (N35). Each reports in a box.
shortcut() {
  step="shortcut $1"
  settle_main_window
  file_item 0
  popup_at popup1 Dup1
  xdotool key Right
  walk_to dup1 N33 1
  submenu_item shortcut1 "$1"
  answer '報告' Return
}
# The desktop's first: the link made in the shown folder appears in the pane (it follows outside
# changes), where it would come before report.txt.
shortcut N34
[ "$(readlink "$work/c/desk/report.lnk")" = "$work/c/report.txt" ] || fail "no link report.lnk on the desktop"
shortcut N35
[ "$(readlink "$work/c/report.lnk")" = "$work/c/report.txt" ] || fail "no link report.lnk in the drive root"

# Close through the menu bar: its first item is 終了.
settle_main_window
origin "$win"
point $((X + 12)) $((Y + menu_h / 2))
xdotool click 1
expect_clean_exit
