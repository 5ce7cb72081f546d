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

# Runs a check every 0.1 s until it holds, for at most 10 s (WAIT_TENTHS tenths when set).
until_true() {
  for _ in $(seq "${WAIT_TENTHS:-100}"); do
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
