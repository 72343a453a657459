#!/usr/bin/env bash
# Takes the README's pictures of the window at 1280x800 under Xvfb, on the demo bus:
#   docs/screenshot.png    the feed pump's device table, read at once, its speed setpoint written
#   docs/bus-overview.png  the plant overviewed after "Scan Bus", one device left unserved
# The simulator serves a copy of the demo plant without the cooling fan, so the scan finds it silent.
# Needs xvfb, xdotool and imagemagick; run it from a shell without a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "${INSIDE_XVFB:-}" ]; then
    INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
work="$(mktemp -d)"
# A fresh settings folder: the window opens at its first-start size and page.
export XDG_CONFIG_HOME="$work/settings"
sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
cp -r "$root/examples/demo" "$work/window"
cp -r "$root/examples/demo" "$work/served"
python3 - "$work/served/config/plant.xml" <<'PY'
import re, sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read()
text = re.sub(r'<KDevice Name="CoolingFan".*?</KDevice>', '', text, flags=re.S)
open(path, "w", encoding="utf-8").write(text)
PY
cmake --build "$root/build-release" --target korvaconfig korvasim >/dev/null
(cd "$work/served" && exec "$root/build-release/tools/korvasim" --config-dir config --link COM1 >"$work/sim.log" 2>&1) &
sim_pid=$!
for _ in $(seq 100); do grep -q serving "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
cp "$work/served/config/ports.xml" "$work/window/config/ports.xml"
(cd "$work/window" && exec "$root/build-release/src/app/korvaconfig" >"$work/app.log" 2>&1) &
app=$!
for _ in $(seq 150); do xdotool search --name "Brenlow" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 1
win="$(xdotool search --name "Brenlow" | head -n 1)"
xdotool windowmove "$win" 0 0 windowsize "$win" 1280 800
sleep 0.5
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.4}"; }
xdotool mousemove 300 300
xdotool key ctrl+1; sleep 1           # Open Com 1
click 95 128                          # the feed pump
click 953 118 1.5                     # Read All
click 134 154 1                       # its speed setpoint
xdotool mousemove 445 626 click --repeat 3 1; sleep 0.2  # New Value
xdotool type 1450; xdotool key Return; sleep 1.5
import -window root "$root/docs/screenshot.png"
click 99 115                          # the root: every device
click 953 118 4                       # Scan Bus; the silent fan takes its time-outs
click 600 400 0.5
import -window root "$root/docs/bus-overview.png"
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
