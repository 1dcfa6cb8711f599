#!/usr/bin/env bash
# Times the /proc snapshot alone, read by 1 to 4 threads (0: as many as the
# tool chooses), while N idle processes run, for each N given in COUNTS:
# where threads start to pay, and how many help.
set -euo pipefail
cd "$(dirname "$0")/.."

counts=${COUNTS:-"0 100 200 300 600 1000 3000 10000"}
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
# shellcheck source=bench/idle.sh
. bench/idle.sh

echo "| processes | 0 (chosen) | 1 thread | 2 threads | 3 threads | 4 threads |"
echo "|---:|---:|---:|---:|---:|---:|"
for n in $counts; do
    start_idle "$n"
    total=$(ls /proc | grep -c '^[0-9]')
    medians=$(build/bench/bench/tarnwick_bench --benchmark_filter='^BM_snapshot/' \
        --benchmark_repetitions=9 --benchmark_report_aggregates_only=true 2>/dev/null |
        awk '/_median/ { printf " %s %s |", $2, $3 }')
    echo "| $total |$medians"
    stop_idle
done
