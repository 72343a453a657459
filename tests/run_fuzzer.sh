#!/usr/bin/env bash
# Runs one fuzz target for a short time on its seeds; fails on any crash, leak or sanitizer report.
# usage: run_fuzzer.sh BINARY SECONDS SEED_DIR WORK_DIR [MORE_SEED_DIRS...]
set -euo pipefail
binary="$1" seconds="$2" seeds="$3" work="$4"
shift 4
mkdir -p "$work"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" "$seeds" "$@"
