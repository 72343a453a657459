#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}"

# The fuzz targets are built with clang beside the test build; CTest runs each for a short time.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVA_FUZZ=ON -DKORVA_BUILD_TESTS=OFF
cmake --build build-fuzz --target fuzz_all -j "$(nproc)"

build=build-test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVA_SANITIZE=ON -DKORVA_BUILD_BENCH=OFF \
    -DKORVA_FUZZ_BUILD_DIR="$PWD/build-fuzz"
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
