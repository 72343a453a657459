#!/usr/bin/env bash
# Runs one fuzz target for a short time on its seeds; fails on any crash, leak or sanitizer report.
# usage: run_fuzzer.sh BINARY SECONDS SEED_DIR WORK_DIR
set -euo pipefail
mkdir -p "$4"
exec "$1" -max_total_time="$2" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$4" "$3"
