#!/usr/bin/env bash
# Builds once, then runs every benchmark; one line per figure with its ratio.
# RUNS overrides each benchmark's own number of runs.
set -euo pipefail
cd "$(dirname "$0")"
./install-deps.sh
source ./lib.sh
build_bench
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
    "$(free -g | awk '/^Mem:/ { print $2 }') GiB; load average $(cut -d' ' -f1-3 /proc/loadavg)"
export BENCH_NO_BUILD=1
for benchmark in startup transfer install wholerun delta stats; do
    "./$benchmark.sh"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
