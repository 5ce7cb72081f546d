# Shared by the end-to-end scripts (sourced): a temporary tree whose $work/c is drive C: and holds the
# program, a virtual display and, where asked, a window manager, the real program started over the
# tree, waits that poll, and the close through 終了 with the exit code checked.
# Sets work, app and win (the main window) and menu_h (the height of its menu bar).

# $1: the program; $2: a folder to make the tree in (default: the system's temporary folder).
e2e_begin() {
  work=$(mktemp -d ${2:+-p "$2"} 2>/dev/null || mktemp -d)
  step=${step:-start}
  trap e2e_cleanup EXIT
  mkdir -p "$work/c"
  cp "$1" "$work/c/zelo32"
}

fail() {
  echo "FAIL ($step): $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/app: /' "$work/app.log" >&2
  [ -s "$work/wm.log" ] && sed 's/^/window manager: /' "$work/wm.log" >&2
  exit 1
}

e2e_cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}

# Runs a check every 0.1 s until it holds, for at most 30 s (WAIT_TENTHS tenths when set): generous, so
# that a loaded machine slows a run down without failing it.
until_true() {
  for _ in $(seq "${WAIT_TENTHS:-300}"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

start_display() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  until_true test -s "$work/display" || fail "Xvfb did not start"
  export DISPLAY=":$(cat "$work/display")"
  unset QT_QPA_PLATFORM
}

# $1: the window manager (default openbox); waits until it runs (a loaded machine can take a while).
start_window_manager() {
  "${1:-openbox}" --sm-disable >"$work/wm.log" 2>&1 &
  wm=$!
  WAIT_TENTHS=300 until_true wm_running || fail "the window manager did not start"
}
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# Starts the program and finds its main window; the menu bar sits above the 535-pixel client area.
start_program() {
  "$work/c/zelo32" >"$work/app.log" 2>&1 &
  app=$!
  win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zelo32 Ver 2\.20$' | head -n 1)
  [ -n "$win" ] || fail "no window captioned Zelo32 Ver 2.20"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  menu_h=$((HEIGHT - 535))
  [ "$menu_h" -gt 0 ] && [ "$menu_h" -lt 60 ] || fail "unexpected window height $HEIGHT"
}

# After the caller has clicked 終了 (the menu bar's first item): the program ends with exit code 0.
expect_clean_exit() {
  app_gone() { ! kill -0 "$app" 2>/dev/null; }
  until_true app_gone || fail "the window did not close through 終了"
  wait "$app"
  local status=$?
  app=
  [ "$status" -eq 0 ] || fail "exit code $status"
  echo "PASS"
}

# ---- working the main window as a person would (after start_program) ----

# The window moves itself when it becomes active: make it active and wait until it stands still.
position() { xdotool getwindowgeometry "$win" | grep Position; }
settled() {
  local before
  before=$(position)
  sleep 0.1
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$win" ] && [ "$(position)" = "$before" ]
}

# X, Y: where window $1 is on the screen (xwininfo: under a reparenting window manager xdotool's
# position counts the frame in).
origin() { eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/ { print "X=" $4 } /Absolute upper-left Y/ { print "Y=" $4 }')"; }

# Point at a control of the top panel: x, y inside the panel. The window moves itself whenever it
# becomes active, so its position is read each time.
# (mousemove --sync would wait for a motion that never comes when the pointer is already there.)
pointer_at() { [ "$(xdotool getmouselocation --shell | head -n 2 | tr '\n' ' ')" = "X=$1 Y=$2 " ]; }
point() {
  xdotool mousemove "$1" "$2"
  until_true pointer_at "$1" "$2" || fail "the pointer did not reach $1,$2"
}
at() {
  origin "$win"
  point $((X + $1)) $((Y + menu_h + $2))
}
dir_item() { at 60 $((58 + 21 * $1 + 10)); }
file_item() { at 450 $((60 + 22 * $1 + 11)); }

# The program's visible windows: the main window, then pop-up menus and dialogs.
windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null; }
windows_open() { [ "$(windows | wc -l)" -eq "$1" ]; }
wait_windows() { until_true windows_open "$1" || fail "expected $1 visible windows, saw $(windows | wc -l)"; }
# The dialog captioned $1 once it is up and active (it takes the keys typed next).
dialog_active() { [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "$1" ]; }

# CX, CY: the centre of window $1's client area.
centre() {
  eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
    /Width:/ { w = $2 } /Height:/ { h = $2 } END { print "CX=" x + int(w / 2) " CY=" y + int(h / 2) }')"
}
near() { [ $(($1 - $2)) -le 2 ] && [ $(($2 - $1)) -le 2 ]; }
# The active window, captioned $1, is centred on the main window.
expect_centred() {
  until_true dialog_active "$1" || fail "no active window captioned $1"
  centre "$win"
  local mx=$CX my=$CY
  centre "$(xdotool getactivewindow)"
  near "$CX" "$mx" && near "$CY" "$my" || fail "$1 is centred at $CX,$CY, the main window at $mx,$my"
}

# The colour of the screen's pixel at x, y.
pixel() { import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | grep -o '#[0-9A-Fa-f]\{6\}' | head -n 1; }
highlighted() { [ "$(pixel "$1" "$2")" != "$3" ]; }

# Drags the file pane's selected files from its row $1 onto the directory pane's row $2, holding the key
# $3 (none when empty) from the moment the drag has begun, and drops them. Each step waits for the
# program: the drop comes only once the row under the pointer is drawn as the drop's target. The row is
# read at the pane's right edge, clear of the drag's picture, which hangs from the pointer at its left.
drag_files() {
  origin "$win"
  local y=$((Y + menu_h + 60 + 22 * $1 + 11)) ty=$((Y + menu_h + 58 + 21 * $2 + 10)) sx=$((X + 300))
  local plain
  plain=$(pixel "$sx" "$ty")
  # The press lies 30 pixels from the click that selected the files, so the two never count as a
  # double click.
  point $((X + 480)) "$y"
  xdotool mousedown 1
  for dx in 40 -40 -120; do point $((X + 450 + dx)) "$y"; done
  [ -n "${3:-}" ] && xdotool keydown "$3"
  point $((X + 13)) "$ty"
  point $((X + 14)) "$ty"
  until_true highlighted "$sx" "$ty" "$plain" || fail "the directory pane's row $2 was never the drop's target"
  xdotool mouseup 1
  [ -n "${3:-}" ] && xdotool keyup "$3"
}

# Clicks at x, y inside the client area of window $1.
click_at() {
  origin "$1"
  point $((X + $2)) $((Y + $3))
  xdotool click 1
}

# The clipboard once the program has put text there that differs from what it held.
clipboard() { xclip -o -selection clipboard 2>/dev/null; }
copied() { [ -n "$(clipboard)" ] && [ "$(clipboard)" != "$1" ]; }

# BackUp on the directory pane's item $1, Yes to its question, and the operation dialog active: its id
# in dialog.
open_backup() {
  settle_main_window
  dir_item "$1"
  xdotool click 1 click 3
  wait_windows 2
  walk_to popup2 BackUp1 0
  xdotool key Return
  until_true dialog_active '注意' || fail "BackUp asked nothing"
  xdotool key Return # Yes is the question's default
  until_true dialog_active 'フオルダーのバックアップ' || fail "no dialog captioned フオルダーのバックアップ"
  dialog=$(xdotool getactivewindow)
}

# The backup's plan window ($plan) holds every line given: its summary is selectable text, dragged
# across and copied.
expect_plan_lines() {
  origin "$plan"
  point $((X + 17)) $((Y + 13))
  xdotool mousedown 1
  point $((X + 300)) $((Y + 120))
  point $((X + 440)) $((Y + 210))
  xdotool mouseup 1 key ctrl+c
  until_true copied "" || fail "the plan's text could not be copied"
  summary=$(clipboard)
  local line
  for line in "$@"; do
    grep -qx "$line" <<<"$summary" || fail "the plan lacks \"$line\": $summary"
  done
}

# The pop-up menus as the keyboard walks them: separators are skipped, "-" is the blank item.
popup1=(N15 Copy2 GoTo1 Dup1 Rename1 N12 N14 - Delete1)
dup1=(N22 N25 N16 N17 N0AHDAH1 SHIFT81 UTF8SJis1 N26 N27 FileList1 N33)
popup2=(N6 MKDIR1 RENDIR1 Copy1 GoTo2 BackUp1 DelBAK1 - N1)
# Makes the item named $2 of menu $1 the active one: a pop-up menu opens with none active, a submenu
# opened with Right on its first item ($3 is 0 or 1 accordingly).
walk_to() {
  local -n rows=$1
  local i
  for i in "${!rows[@]}"; do
    if [ "${rows[$i]}" = "$2" ]; then
      for _ in $(seq $((i + 1 - $3))); do xdotool key Down; done
      return 0
    fi
  done
  fail "no item $2 in $1"
}

# Makes the main window active and waits until it stands still.
settle_main_window() {
  xdotool windowactivate "$win" 2>/dev/null
  until_true settled || fail "the main window did not become active"
}
