#!/usr/bin/env bash
# Starts the real zelo32 under Xvfb and openbox over a drive map of a temporary tree and backs a folder up
# as a person would: selects the directory, opens the directory menu, chooses "BackUp", answers Yes,
# enters the destination in the dialog's own pane, presses "実行", opens the detail list from the result
# window and closes both, then compares the trees. Exit code 0 at the end through 終了.
set -uo pipefail
exe="$1"
# On tmpfs when there is one: the backup ends with a sync of its file system, slow on a busy disk.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
fail() { echo "FAIL: $*" >&2; [ -f "$work/app.log" ] && sed 's/^/app: /' "$work/app.log" >&2; exit 1; }
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

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
cp "$exe" "$work/c/zelo32"
export ZELO_DRIVES="C=$work/c"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
sleep 0.5

"$work/c/zelo32" >"$work/app.log" 2>&1 &
app=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zelo32 Ver 2\.20$' | head -n 1)
[ -n "$win" ] || fail "no window captioned Zelo32 Ver 2.20"
sleep 0.5

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

# The directory pane lists C:\, then backup and src; the menu bar sits above the 535-pixel client area.
eval "$(xdotool getwindowgeometry --shell "$win")"
menu_h=$((HEIGHT - 535))
click_in "$win" 60 $((menu_h + 58 + 21 * 2 + 10))
xdotool click 3 # where the pointer is (a move --sync onto the same spot would wait for a motion)
sleep 0.5
# 情報, ＤＩＲ作成, ＤＩＲ名変更, コピー, 移動, BackUp (separators are skipped).
xdotool key Down Down Down Down Down Down Return

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
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "the window did not close through 終了"
wait "$app"
status=$?
app=
[ "$status" -eq 0 ] || fail "exit code $status"
echo "PASS"
