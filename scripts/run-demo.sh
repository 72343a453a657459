#!/usr/bin/env bash
# Starts KorvaConfig on the demo bus: the device simulator serves the demo plant on a
# pseudo-terminal that config/ports.xml maps to COM1, and the program runs in the demo folder.
# Choose "Coms", "Open Com 1" (Ctrl+1) in the program to reach the devices. The simulator stops with it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
. scripts/common.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run-demo: no display to show the window on; run it in a desktop session, or without one: xvfb-run -a $0 (package xvfb)" >&2
    exit 1
fi
ensure_packages "${RUN_PACKAGES[@]}"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_BUILD_TESTS=OFF >/dev/null
cmake --build build-release --target korvaconfig korvasim

demo="$root/examples/demo"
log="$(mktemp -t korvasim.XXXXXX)"
cd "$demo"
"$root/build-release/tools/korvasim" --config-dir config --link COM1 >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 100); do
    grep -q "serving" "$log" && break
    kill -0 "$sim" 2>/dev/null || { cat "$log"; exit 1; }
    sleep 0.05
done
head -n 1 "$log"
echo "In KorvaConfig choose Coms, Open Com 1 (Ctrl+1): the devices answer, and the status bar says so."
"$root/build-release/src/app/korvaconfig"
