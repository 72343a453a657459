#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every
# test: the everyday suite first, then the tests against a real PostgreSQL server, then the short
# fuzz runs, then the Debian package's check.
# Installing what the tests need is done here, before CTest starts.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}"

build=build-test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVA_SANITIZE=ON -DKORVA_BUILD_BENCH=OFF \
    -DKORVA_WERROR=ON -DKORVA_FUZZ_BUILD_DIR="$PWD/build-fuzz"
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run() { ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300 "$@"; }
run -LE 'packaging|fuzz|server'
# The results store on a throwaway PostgreSQL cluster that the tests start and stop themselves.
run -L server

# The threaded parts (the serial port's worker, the recorder and the capture files) under
# ThreadSanitizer, in a build of their own tests only.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVA_TSAN=ON -DKORVA_BUILD_BENCH=OFF \
    -DKORVA_WERROR=ON
cmake --build build-tsan --target test_transport test_trace -j "$(nproc)"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
build-tsan/tests/transport/test_transport --gtest_brief=1
build-tsan/tests/trace/test_trace --gtest_brief=1

# The fuzz targets are built with clang beside the test build; CTest gives each a short run.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVA_FUZZ=ON -DKORVA_BUILD_TESTS=OFF -DKORVA_WERROR=ON
cmake --build build-fuzz --target fuzz_all -j "$(nproc)"
run -L fuzz

run -L packaging
