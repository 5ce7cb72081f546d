#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb over a drive map of a temporary tree and works it as a person would:
# enters a directory with the keyboard, goes up and into another with the mouse, saves the file pane's
# list through the pop-up menu each time (the saved text shows what the pane listed), closes it through
# the menu bar and expects exit code 0.
set -uo pipefail
exe="$1"
work=$(mktemp -d)
fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && sed 's/^/app: /' "$work/app.log" >&2; exit 1; }
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The tree: C: is $work/c and holds the program, so the program starts on C:\.
mkdir -p "$work/c/alpha" "$work/c/beta" "$work/c/gamma" "$work/out"
printf 'x' >"$work/c/root.txt"
printf '1' >"$work/c/beta/one.txt"
printf '2' >"$work/c/beta/two.txt"
printf '3' >"$work/c/gamma/three.txt"
cp "$exe" "$work/c/zelo32"
export ZELO_DRIVES="C=$work/c;D=$work/out"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM

"$work/c/zelo32" >"$work/app.log" 2>&1 &
app=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zelo32 Ver 2\.20$' | head -n 1)
[ -n "$win" ] || fail "no window captioned Zelo32 Ver 2.20"
# The menu bar sits above the 535-pixel client area: its height is what the window has beyond that.
eval "$(xdotool getwindowgeometry --shell "$win")"
menu_h=$((HEIGHT - 535))
[ "$menu_h" -gt 0 ] && [ "$menu_h" -lt 60 ] || fail "unexpected window height $HEIGHT"

# Point at a control of the top panel: x, y inside the panel. The window moves itself whenever it
# becomes active, so its position is read each time.
at() {
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove --sync $((X + $1)) $((Y + menu_h + $2))
}
dir_item() { at 60 $((58 + 21 * $1 + 10)); }

wait_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; return 1; }

# Saves the file pane's list through PopupMenu1 > オプション > File List を保存 into $1.
save_list() {
  at 450 80
  xdotool click 1
  xdotool click 3
  sleep 0.5
  # 情報, コピー, 移動, オプション (separators are skipped), then into the submenu down to File List.
  xdotool key Down Down Down Down Right
  sleep 0.3
  xdotool key Down Down Down Down Down Down Down Down Down Return
  dlg=
  for _ in $(seq 100); do
    dlg=$(xdotool search --onlyvisible --pid "$app" --name '.' 2>/dev/null | grep -v "^$win\$" | head -n 1)
    [ -n "$dlg" ] && break
    sleep 0.1
  done
  [ -n "$dlg" ] || fail "no save dialog"
  sleep 0.5
  xdotool type --delay 20 "$1"
  xdotool key Return
  wait_file "$1" || fail "the list was not saved to $1"
}

# Keyboard: focus the directory pane on the root entry, Down twice to beta, Enter enters it.
dir_item 0
xdotool click 1
xdotool key Down Down Return
sleep 0.5
save_list "$work/out/list1.txt"
printf 'one.txt\r\ntwo.txt\r\n' | cmp -s - "$work/out/list1.txt" || fail "after entering beta the pane listed: $(od -c "$work/out/list1.txt")"

# Mouse: double-click the root entry (up to C:\), then gamma (root, alpha, beta, gamma).
dir_item 0
xdotool click --repeat 2 --delay 80 1
sleep 0.5
dir_item 3
xdotool click --repeat 2 --delay 80 1
sleep 0.5
save_list "$work/out/list2.txt"
printf 'one.txt\r\ntwo.txt\r\nthree.txt\r\n' | cmp -s - "$work/out/list2.txt" || fail "after entering gamma the saved list was: $(od -c "$work/out/list2.txt")"

# Close through the menu bar: its first item is 終了.
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove --sync $((X + 12)) $((Y + menu_h / 2)) click 1
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the window did not close through 終了"
wait "$app"
status=$?
app=
[ "$status" -eq 0 ] || fail "exit code $status"
echo "PASS"
