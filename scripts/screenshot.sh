#!/usr/bin/env bash
# Takes docs/screenshot.png: the program on the demo bus under Xvfb, a property written and read.
# Needs xvfb, xdotool and imagemagick; run it from a shell without a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${INSIDE_XVFB:-}" ]; then
    INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x400x24" "$0" "$@"
fi
"$root/scripts/run-demo.sh" >/tmp/korva-demo.log 2>&1 &
for _ in $(seq 100); do xdotool search --name "Brenlow" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 1
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.3}"; }
click 61 9 0.5       # Coms
click 90 32 0.5      # Open Com 1
click 99 133         # the first device
xdotool key Right; sleep 0.3
xdotool key Down Down; sleep 1
click 440 206 0.2    # New Value
xdotool type 1450; sleep 0.2
click 524 204 1      # Set
import -window root -crop 839x360+0+0 "$root/docs/screenshot.png"
pkill -f "$root/build-release/src/app/korvaconfig" || true
wait
