#!/usr/bin/env bash
# Takes docs/screenshot.png: the program on the demo bus under Xvfb, grown beyond its form's size,
# with the port open and a property written and read back.
# Needs xvfb, xdotool and imagemagick; run it from a shell without a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${INSIDE_XVFB:-}" ]; then
    INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 1100x560x24" "$0" "$@"
fi
# A fresh settings folder: the window opens at its default place and page.
export XDG_CONFIG_HOME="$(mktemp -d)"
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
"$root/scripts/run-demo.sh" >/tmp/korva-demo.log 2>&1 &
for _ in $(seq 100); do xdotool search --name "Brenlow" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 1
win="$(xdotool search --name "Brenlow" | head -n 1)"
xdotool windowmove "$win" 0 0 windowsize "$win" 1100 560
sleep 0.5
xdotool mousemove 300 300
xdotool key ctrl+1; sleep 1          # Open Com 1
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.3}"; }
click 115 154 1                      # the feed pump's speed setpoint
xdotool mousemove 708 206 click --repeat 3 1; sleep 0.2   # New Value
xdotool type 1450; xdotool key Return; sleep 1.5          # Enter sets; the value is read back
import -window root "$root/docs/screenshot.png"
kill "$(pgrep -f "^$root/build-release/src/app/korvaconfig" | head -n 1)" 2>/dev/null || true
wait
