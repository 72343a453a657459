#!/usr/bin/env bash
# Takes docs/trace.png: the packet trace window on the demo bus under Xvfb while the doser's recipe
# file loads. BUILD names the build folder (default build-release, which must hold korvaconfig and
# korvasim). Needs xvfb, xdotool and imagemagick; run it from a shell without a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/${BUILD:-build-release}"
if [ -z "${INSIDE_XVFB:-}" ]; then
    INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 1100x760x24" "$0" "$@"
fi
work="$(mktemp -d)"
export XDG_CONFIG_HOME="$work/settings" ASAN_OPTIONS=detect_leaks=0
cp -R "$root/examples/demo/config" "$work/config"
cd "$work"
"$build/tools/korvasim" --config-dir config --link COM1 >"$work/sim.log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; cp "$work/program.log" /tmp/korva-trace-shot.log 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q serving "$work/sim.log" && break; sleep 0.1; done
"$build/src/app/korvaconfig" >"$work/program.log" 2>&1 &
program=$!
for _ in $(seq 100); do xdotool search --name "Brenlow" >/dev/null 2>&1 && break; sleep 0.2; done
sleep 1
win="$(xdotool search --name "Brenlow" | head -n 1)"
xdotool windowmove "$win" 0 0 windowsize "$win" 1100 380
sleep 0.5
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.4}"; }
xdotool mousemove 300 200
xdotool key ctrl+1; sleep 1                       # Open Com 1
xdotool key ctrl+t; sleep 1                       # the packet trace
trace="$(xdotool search --name "Packet Trace" | head -n 1)"
xdotool windowmove "$trace" 0 400 windowsize "$trace" 1100 360
sleep 0.5
xdotool windowactivate --sync "$win" 2>/dev/null || true
click 220 40                                      # the "Utility" page
click 415 114                                     # "Hide Advanced Settings" off: the file buttons may show
click 60 40                                       # back to the "Device Manager" page
click 100 128                                     # the device tree
xdotool key End; sleep 1                          # its last entry: the doser's recipe file
click 220 40                                      # the "Utility" page
click 188 260 ${LOAD_WAIT:-1.5}                   # "Load File": the elements are read one by one
import -window root "${OUT:-$root/docs/trace.png}"
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
