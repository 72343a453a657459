#!/usr/bin/env bash
# Release build of the benchmark programs; runs them all (or the ones named), each to its end
# whatever the others did, then one line per program: its name, ok or failed with its exit status,
# and the seconds it took. The exit status is 1 when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}" libpugixml-dev
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVA_BUILD_TESTS=OFF -DKORVA_BUILD_BENCH=ON -DKORVA_WERROR=ON
cmake --build build-bench -j "$(nproc)"
[ $# -eq 0 ] && set -- $(cd build-bench/bench && ls bench_*)
summary=()
failed=0
for b in "$@"; do
    start=$EPOCHREALTIME
    status=0
    "build-bench/bench/$b" || status=$?
    seconds=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')
    if [ "$status" -eq 0 ]; then
        summary+=("$(printf '%-16s ok             %7.1f s' "$b" "$seconds")")
    else
        failed=1
        # A status past 128 is a signal: 139 is SIGSEGV.
        summary+=("$(printf '%-16s failed (%3d)   %7.1f s' "$b" "$status" "$seconds")")
    fi
done
echo
printf '%s\n' "${summary[@]}"
exit "$failed"
