#!/usr/bin/env bash
# Starts the program on the demo bus. The main window and the device simulator are not built yet;
# until they are, this says so and builds what exists.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_BUILD_TESTS=OFF
cmake --build build-release -j "$(nproc)"
echo "KorvaConfig's window and the demo-bus simulator do not exist yet: the bus core is built, nothing can be started."
exit 1
