#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds (default 60).
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]   targets: scanner xml config sequence smartedit relay
# New inputs land in build-fuzz/corpus/<target>; the seeds in fuzz/corpus stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}"
seconds="${1:-60}"
shift || true
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVA_FUZZ=ON -DKORVA_BUILD_TESTS=OFF -DKORVA_WERROR=ON >/dev/null
cmake --build build-fuzz --target fuzz_all
[ $# -eq 0 ] && set -- scanner xml config sequence smartedit relay
for t in "$@"; do
    [ -x "build-fuzz/fuzz/fuzz_$t" ] || continue
    mkdir -p "build-fuzz/corpus/$t"
    echo "== fuzz_$t for ${seconds}s"
    more=() seeds="fuzz/corpus/$t"
    [ "$t" = xml ] && seeds=tests/xml/corpus  # the reader's test corpus is its seed
    [ "$t" = sequence ] && more=(examples/demo/config/standard examples/demo/config/custom examples/demo/config/tools)
    "build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "build-fuzz/corpus/$t" "$seeds" "${more[@]}" 2>&1 | grep -E "^(#[0-9]+ *DONE|stat::number_of_executed_units|==|SUMMARY|Done)" || true
    test "${PIPESTATUS[0]}" -eq 0
done
