#!/usr/bin/env bash
# Reading the logs: cmupdater-publish stats over a combined-format access log
# of STATS_LINES lines (default 1,000,000; one in ten an outcome report, one
# report in five sent twice), plain and gzip, against grep counting the same
# report lines (and zcat | grep for the gzip). Medians of RUNS runs; the time
# for ten million lines is scaled from the plain log's line rate.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-3}
lines=${STATS_LINES:-1000000}
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
root=$(new_work stats)
publish=$build_dir/updater/tools/publish/cmupdater-publish

awk -v lines="$lines" 'BEGIN {
    srand(35)
    split("installed installed installed installed rolled-back failed", results, " ")
    for (i = 0; i < lines; ++i) {
        stamp = sprintf("[%02d/Dec/2026:%02d:%02d:%02d +0000]", 10 + int(i / 86400) % 18,
                        int(i / 3600) % 24, int(i / 60) % 60, i % 60)
        if (i % 10 != 0) {
            printf "10.0.%d.%d - - %s \"GET /kestrel/Description.xml?device=RX481 HTTP/1.1\" 200 2048 \"-\" \"cmupdater\"\n",
                   i % 250, i % 200, stamp
            continue
        }
        if (i % 50 != 0 || nonce == "")
            nonce = sprintf("%08x%08x", int(rand() * 4294967295), i)
        result = results[1 + int(rand() * 6)]
        reason = result == "failed" ? "copy-failed" : (result == "rolled-back" ? "did-not-start" : "-")
        printf "10.0.%d.%d - - %s \"GET /kestrel/reports/1/RX48%d/1.0+F1/2.%d+F1/%s/%s?n=%s HTTP/1.1\" 404 153 \"-\" \"curl\"\n",
               i % 250, i % 200, stamp, i % 3, i % 4, result, reason, nonce
    }
}' >"$root/access.log"
gzip -k -1 "$root/access.log"

# seconds COMMAND...: the wall time of one run, in seconds.
seconds() {
    local t0 t1
    t0=$EPOCHREALTIME
    # Not /dev/null: grep stops at its first match when it writes there.
    "$@" >"$root/output"
    t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

for kind in plain gzip; do
    log=$root/access.log
    baseline="grep -c /reports/ '$log'"
    if [ "$kind" = gzip ]; then
        log=$root/access.log.gz
        baseline="zcat '$log' | grep -c /reports/"
    fi
    tool=() base=()
    for _ in $(seq "$runs"); do
        tool+=("$(seconds taskset -c 0 "$publish" stats "$log")")
        base+=("$(seconds taskset -c 0 sh -c "$baseline")")
    done
    t=$(median "${tool[@]}")
    b=$(median "${base[@]}")
    echo "stats, $lines lines ($kind): ${t} s against ${b} s (grep counting the report lines): ratio $(ratio "$t" "$b")"
    if [ "$kind" = plain ]; then
        echo "stats, 10,000,000 lines on one core (scaled): $(awk -v t="$t" -v n="$lines" 'BEGIN { printf "%.1f", t * 10000000 / n }') s (goal < 15 s)"
    fi
done
peak=$( { /usr/bin/time -f '%M' "$publish" stats "$root/access.log" >/dev/null; } 2>&1 | tail -1)
echo "stats peak resident memory: $((peak / 1024)) MiB for $lines lines"
