#!/usr/bin/env bash
# screenshots.sh BUILD_DIR OUT_DIR: the window in the states a user meets, taken
# under Xvfb from the real program on simulated drives (packages xvfb, xdotool,
# imagemagick): start, flashing, finished, failure, and no drive.
set -euo pipefail

build="$(cd "$1" && pwd)"
out="$(mkdir -p "$2" && cd "$2" && pwd)"
ofsflash="$build/src/app/ui/ofsflash"
samples="$build/samples"
display=":${OFS_SCREEN:-77}"
work="$(mktemp -d)"
Xvfb "$display" -screen 0 640x720x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY="$display" XDG_RUNTIME_DIR="$work"
sleep 1

# The whole screen (the window and any box on it), trimmed to what is drawn.
shot() { sleep "${2:-0.5}"; import -window root "$work/full.png" && convert "$work/full.png" -trim +repage "$out/$1.png"; }
start() {
  if [ -n "$1" ]; then export OFSFLASH_SIMULATE="$1"; else unset OFSFLASH_SIMULATE; fi
  "$ofsflash" >/dev/null 2>&1 &
  app=$!
  window="$(xdotool search --sync --onlyvisible --class ofsflash | head -1)"
  sleep 1
}
# Waits for a box (a second visible window of the program), up to 30 s.
wait_box() {
  for _ in $(seq 300); do
    [ "$(xdotool search --onlyvisible --class ofsflash | wc -l)" -ge 2 ] && return 0
    sleep 0.1
  done
  echo "screenshots: no box appeared" >&2
  return 1
}
stop() { kill "$app" 2>/dev/null; wait "$app" 2>/dev/null || true; app=""; }
# A key to the main window (no window manager gives it the focus).
key() { xdotool windowfocus "$window" && sleep 0.2 && xdotool key --window "$window" "$@"; }
# Load OFS, then the dialog's file name.
load() {
  key alt+l
  sleep 1
  xdotool type --delay 5 "$1"
  xdotool key Return
  sleep 1
}

start 1
load "$samples/fits-drive0.ofs"
shot window-start
key alt+s
shot window-flashing 2
wait_box  # the restart question, once the drive has programmed and been verified
shot window-finished
xdotool key Escape
stop

cat >"$work/failing.profile" <<'PROFILE'
[drive]
vendor = ORVA
product = KZR-3350P2
revision = 1.00
hardware_id = A1
date_code = 061201
fail = write_buffer times always sense 05/24/00
PROFILE
start "$work/failing.profile"
load "$samples/fits-drive0.ofs"
key alt+s
wait_box
shot window-failure-box
xdotool key Return
shot window-failure
stop

# The drives of this machine: where it has none, or none this user may open, the box says why.
start ""
shot window-no-drive
stop
echo "screenshots in $out"
