#!/usr/bin/env bash
# Release build of the benchmark programs; runs them all (or the ones named).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}" libpugixml-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCH=ON -DKORVA_WERROR=ON
cmake --build build-bench -j "$(nproc)"
[ $# -eq 0 ] && set -- $(cd build-bench/bench && ls bench_*)
for b in "$@"; do
    "build-bench/bench/$b"
done
