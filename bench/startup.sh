#!/usr/bin/env bash
# Start-up: from the exec of the installed cmupdater to its version-check request
# reaching a local HTTP server, against a Qt program that makes a hidden dialog
# of the same size and ends. Both run in the same sandbox; medians of RUNS runs.
# A second pass with a preloaded library times the phases of both.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-10}
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
root=$(new_work startup)
# Nothing to serve: the request's arrival is all that is measured.
mkdir "$root/docs"
start_httpd "$root" "$root/docs" 900
trap stop_httpd EXIT
new_installation "$root" "$httpd_url/updates"
cp "$build_dir/startup-baseline" "$root/inst/"
cp "$build_dir/libstartup-phases.so" "$root/"

# updater_once PRELOAD: milliseconds from the exec to the request, with PRELOAD
# (none when empty) preloaded. The exec's time is taken by the shell that execs,
# without a fork in between.
updater_once() {
    : >"$root/requests.log"
    in_sandbox "$root" "echo \"\$EPOCHREALTIME\" >../exec.time
                        LD_PRELOAD='$1' exec ./cmupdater >/dev/null 2>&1" &
    local sandbox=$! tries=0
    until [ -s "$root/requests.log" ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 3000 ] || { echo "no version-check request" >&2; return 1; }
        sleep 0.005
    done
    # The run ends here; the updater's answer to the failed check is not waited for.
    kill -KILL "$sandbox"
    wait "$sandbox" 2>/dev/null || true
    local arrival
    arrival=$(awk 'NR == 1 { print $1 }' "$root/requests.log")
    echo "request $arrival" >>"$root/phases.txt"
    awk -v a="$(cat "$root/exec.time")" -v b="$arrival" 'BEGIN { printf "%.1f", (b - a) * 1000 }'
}

# baseline_once PRELOAD: milliseconds from the exec to the end, likewise.
baseline_once() {
    in_sandbox "$root" "t0=\$EPOCHREALTIME; echo \"\$t0\" >../exec.time
                        LD_PRELOAD='$1' ./startup-baseline 2>/dev/null; t1=\$EPOCHREALTIME
                        echo \"exit \$t1\" >>../phases.txt
                        awk -v a=\"\$t0\" -v b=\"\$t1\" 'BEGIN { printf \"%.1f\", (b - a) * 1000 }'"
}

# phases_of PROGRAM [PRELOAD]: runs it RUNS times with the phase library (and
# PRELOAD) and prints the median time of each phase's first mark after the exec.
phases_of() {
    export PHASES_OUT="$root/phases.txt"
    local samples="$root/phase-samples.txt"
    : >"$samples"
    for _ in $(seq "$runs"); do
        : >"$PHASES_OUT"
        "$1" "${2:+$2 }$root/libstartup-phases.so" >/dev/null
        awk -v exec="$(cat "$root/exec.time")" '!seen[$1]++ {
            printf "%s %.1f\n", $1, ($2 - exec) * 1000 }' "$PHASES_OUT" >>"$samples"
    done
    unset PHASES_OUT
    awk '{ v[$1] = v[$1] " " $2 } END { for (p in v) print p v[p] }' "$samples" |
        while read -r phase values; do
            # shellcheck disable=SC2086 # the values are words on purpose
            echo "$(median $values) $phase"
        done | sort -g | awk '{ printf " %s %s", $2, $1 }'
}

# One of each to warm the caches, then alternately, so that load from other
# work on the machine falls on both alike.
updater_once "" >/dev/null
baseline_once "" >/dev/null
updater_ms=()
baseline_ms=()
for _ in $(seq "$runs"); do
    updater_ms+=("$(updater_once "")")
    baseline_ms+=("$(baseline_once "")")
done
echo "startup runs (ms): updater ${updater_ms[*]}; baseline ${baseline_ms[*]}" >&2
updater=$(median "${updater_ms[@]}")
baseline=$(median "${baseline_ms[@]}")
echo "startup: updater ${updater} ms, baseline ${baseline} ms (medians of $runs)," \
    "ratio $(ratio "$updater" "$baseline") (goal <= 1.5)"
echo "startup phases, ms after exec (medians, preloaded):"
echo "  updater: $(phases_of updater_once)"
echo "  baseline:$(phases_of baseline_once)"
# The agent library, linked into the updater, brings libcurl and libcrypto
# with their dependencies.
echo "  baseline with the agent's libraries preloaded:$(phases_of baseline_once "libcurl.so.4 libcrypto.so.3")"
echo "  shared libraries: updater $(in_sandbox "$root" 'ldd ./cmupdater | wc -l')," \
    "baseline $(in_sandbox "$root" 'ldd ./startup-baseline | wc -l')"
