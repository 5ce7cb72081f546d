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
start_program

at() {
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove --sync $((X + $1)) $((Y + menu_h + $2))
}
# A visible window of the program captioned exactly $1 (compared here: xdotool's patterns do not
# match Japanese captions in every locale), or a failure after the wait.
window_named() {
  for w in $(xdotool search --onlyvisible --pid "$app" --name '.' 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
  done
  return 1
}
find_window() {
  for _ in $(seq 100); do
    window_named "$1" && return 0
    sleep 0.1
  done
  return 1
}
window_gone() {
  for _ in $(seq 100); do
    window_named "$1" >/dev/null || return 0
    sleep 0.1
  done
  return 1
}
# Opens the pop-up menu of a pane (x, y of an item to click first) and types the keys given.
menu() {
  xdotool mousemove --sync 0 0 # a move to where the pointer already is would wait for ever
  at "$1" "$2"
  xdotool click 1
  xdotool click 3
  sleep 0.5
  shift 2
  xdotool key "$@"
  sleep 0.3
}

# Directory pane: 情報 > 容量 counts the tree and opens the folder information dialog; OK closes it.
menu 60 68 Down Right Return
find_window 'フォルダー　情報' >/dev/null || fail "容量 opened no folder information dialog"
xdotool key Return
window_gone 'フォルダー　情報' || fail "the folder information dialog did not close"

# Directory pane: 情報 > 属性，ラベル opens the directory attribute dialog; Escape closes it.
menu 60 68 Down Right Down Return
find_window 'Ｄｉｒの属性' >/dev/null || fail "属性，ラベル opened no dialog"
xdotool key Escape
window_gone 'Ｄｉｒの属性' || fail "the directory attribute dialog did not close"

# File pane: 情報 opens the file information dialog for report.txt; Return presses a button of it.
menu 450 70 Down Return
find_window 'Ｆｉｌｅ情報' >/dev/null || fail "情報 opened no file information dialog"
xdotool key Return
# Whichever button it was, the dialog closes; after "変更" a report comes first.
for _ in $(seq 100); do
  window_named '報告' >/dev/null && xdotool key Return
  window_named 'Ｆｉｌｅ情報' >/dev/null || break
  sleep 0.1
done
window_gone 'Ｆｉｌｅ情報' || fail "the file information dialog did not close"

# File pane: オプション > ショ－トカット作成 > 現在のパス, then > デスクトップ. Each reports in a box.
shortcut() {
  menu 450 70 Down Down Down Down Right
  xdotool key Down Down Down Down Down Down Down Down Down Down Right "$@" Return
  find_window '報告' >/dev/null || fail "no report after the shortcut ($*)"
  xdotool key Return
  window_gone '報告' || fail "the report did not close"
}
shortcut Down
[ "$(readlink "$work/c/report.lnk")" = "$work/c/report.txt" ] || fail "no link report.lnk in the drive root"
shortcut
[ "$(readlink "$work/c/desk/report.lnk")" = "$work/c/report.txt" ] || fail "no link report.lnk on the desktop"

# Close through the menu bar: its first item is 終了.
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove --sync $((X + 12)) $((Y + menu_h / 2)) click 1
expect_clean_exit
