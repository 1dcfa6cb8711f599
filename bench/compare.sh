#!/usr/bin/env bash
# Times tarnwick beside ps, pstree and a bare reader of /proc/*/stat (the
# floor, on one thread and with its reads dealt out to two) while N idle
# processes run, for N = 0, 1,000 and 10,000, and writes the
# table into docs/benchmarks.md between its result markers.
# Needs hyperfine and GNU time (Debian packages hyperfine and time).
set -euo pipefail
cd "$(dirname "$0")/.."

counts=${COUNTS:-"0 1000 10000"}
runs=${RUNS:-15}  # a round; three rounds are merged
rounds=3
for tool in hyperfine /usr/bin/time ps pstree; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
tarnwick=$PWD/build/bench/tarnwick
floor=$PWD/build/bench/bench/proc_floor

# shellcheck source=bench/idle.sh
. bench/idle.sh

# Peak resident memory of one run, in kB.
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

work=$(mktemp -d)
table=$work/table.md
{
    echo "Machine: $(nproc) cores, $(uname -sr), $(date -u +%Y-%m-%d)."
    echo "Wall time of $((runs * rounds)) runs in $rounds rounds, each after 10 warm-ups (hyperfine,"
    echo "output to /dev/null); the ratio is of medians. CPU is user + system time, which a busy"
    echo "neighbour on a shared machine disturbs less than wall time. Peak resident memory of one run"
    echo "(GNU time)."
} >"$table"

for n in $counts; do
    start_idle "$n"
    total=$(ls /proc | grep -c '^[0-9]')
    # Rounds spread a passing disturbance over every command.
    for ((round = 1; round <= rounds; round++)); do
        hyperfine -N --warmup 10 --runs "$runs" --export-json "$work/$n.$round.json" \
            -n "tarnwick" "$tarnwick" \
            -n "tarnwick /t" "$tarnwick /t" \
            -n "ps -e" "ps -e" \
            -n "pstree -p" "pstree -p" \
            -n "floor (/proc/*/stat)" "$floor" \
            -n "floor, 2 threads" "$floor 2" >/dev/null 2>&1
    done
    for cmd in "$tarnwick" "$tarnwick /t" "ps -e" "pstree -p" "$floor" "$floor 2"; do
        # shellcheck disable=SC2086
        peak_kb $cmd
    done >"$work/$n.mem"
    python3 - "$work/$n" "$work/$n.mem" "$n" "$total" >>"$table" <<'PY'
import glob, json, statistics, sys
rounds = [json.load(open(f))["results"] for f in sorted(glob.glob(sys.argv[1] + ".*.json"))]
mem = open(sys.argv[2]).read().split()
times = [sum((r[i]["times"] for r in rounds), []) for i in range(len(rounds[0]))]
names = [r["command"] for r in rounds[0]]
cpu = [statistics.mean(r[i]["user"] + r[i]["system"] for r in rounds) for i in range(len(names))]
floor = statistics.median(times[-2])
floor2 = statistics.median(times[-1])
print()
if int(sys.argv[3]):
    print(f"### {int(sys.argv[3]):,} idle processes ({int(sys.argv[4]):,} in all)")
else:
    print(f"### The machine's own processes ({int(sys.argv[4]):,})")
print()
print("| command | median (ms) | min (ms) | mean ± σ (ms) | vs floor | vs 2-thread floor "
      "| CPU (ms) | CPU vs floor | peak RSS (MB) |")
print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
for name, t, c, kb in zip(names, times, cpu, mem):
    print(f"| `{name}` | {statistics.median(t) * 1e3:.2f} | {min(t) * 1e3:.2f} "
          f"| {statistics.mean(t) * 1e3:.2f} ± {statistics.stdev(t) * 1e3:.2f} "
          f"| {statistics.median(t) / floor:.2f}x | {statistics.median(t) / floor2:.2f}x "
          f"| {c * 1e3:.2f} | {c / cpu[-2]:.2f}x | {int(kb) / 1024:.1f} |")
PY
    stop_idle
done

python3 - docs/benchmarks.md "$table" <<'PY'
import sys
path, table = sys.argv[1], open(sys.argv[2]).read()
text = open(path).read()
begin, end = "<!-- results -->\n", "<!-- /results -->\n"
head, rest = text.split(begin, 1)
tail = rest.split(end, 1)[1]
open(path, "w").write(head + begin + table + end + tail)
PY
cat "$table"
rm -rf "$work"
