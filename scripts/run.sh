#!/usr/bin/env bash
# Builds and starts Zelo. Without a display it runs the program under Xvfb, saves a screenshot of the
# main window after start-up to the path it prints (ZELO_SCREENSHOT chooses it), and closes it again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >&2 # progress to stderr: standard output names the screenshot
exe="$PWD/build/app/zelo32"

# Without a map of its own, Zelo's C: is this machine's real "/": offer scratch drives for a trial.
if [ -z "${ZELO_DRIVES:-}" ]; then
  cat >&2 <<'NOTE'
Note: C: is this machine's real "/", so what Zelo deletes, moves or renames there is really gone.
To try it on scratch drives instead:
  mkdir -p /tmp/zelo-scratch/c /tmp/zelo-scratch/d
  ZELO_DRIVES='C=/tmp/zelo-scratch/c;D=/tmp/zelo-scratch/d,removable,label=SCRATCH' scripts/run.sh
NOTE
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe"
fi

shot="${ZELO_SCREENSHOT:-$PWD/build/zelo32-screenshot.png}"
work=$(mktemp -d)
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Let Xvfb pick a free display and tell us its number.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

"$exe" &
app=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zelo32 Ver 2\.20$' | head -n 1)
# Give the first paint a moment before taking the picture.
sleep 1
import -window root "$shot"
echo "Screenshot of the main window: $shot"

# Close it through the menu bar's first item, "終了".
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove --sync $((X + 12)) $((Y + 8)) click 1
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then
  kill "$app"
fi
wait "$app" && status=0 || status=$?
app=
exit "$status"
