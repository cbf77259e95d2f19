#!/usr/bin/env bash
# Install: the updater's software install (UpdateDispatcher::updateSW, with the
# private data kept) of packages with 100, 1,000 and 5,000 files, half of them
# replacing installed files, against unzip -q followed by cp -r of the same
# tree. Medians of RUNS runs per size, in the sandbox, each on a fresh copy of
# the installation; then the growth from one size to the next and the shell
# lines the install ran, by command.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-3}
read -r -a sizes <<<"${INSTALL_SIZES:-100 1000 5000}"
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
root=$(new_work install)
mkdir "$root/inst"
cp "$build_dir/install-driver" "$root/"

driver() {
    in_sandbox "$root" "cd .. && ./install-driver $*"
}

# breakdown LINE: the driver's tallies "[cp -r]=51/165.0 ..." as readable text,
# with their sum against the whole install.
breakdown() {
    printf '%s\n' "$1" | grep -o '\[[^]]*\]=[0-9]*/[0-9.]*' |
        sed 's/^\[\(.*\)\]=\([0-9]*\)\/\([0-9.]*\)$/\2 \3 \1/' | sort -k2 -g -r |
        awk -v total="$(field ms "$1")" '{
                lines += $1; ms += $2; cmd = $3; for (i = 4; i <= NF; i++) cmd = cmd " " $i
                parts = parts sprintf("%s%s %d/%.0f", sep, cmd, $1, $2); sep = ", " }
            END { printf "%d shell lines took %.0f of %.0f ms (%.0f%%, %.1f ms a line): %s",
                  lines, ms, total, 100 * ms / total, ms / lines, parts }'
}

declare -A updater baseline
for files in "${sizes[@]}"; do
    work="w$files"
    driver prepare "$work" "$files"
    driver updater "$work" >/dev/null # warms the caches
    updater_lines=()
    updater_ms=()
    baseline_ms=()
    for _ in $(seq "$runs"); do
        line=$(driver updater "$work")
        [ "$(field installed "$line")" = 1 ] || { echo "install failed: $line" >&2; exit 1; }
        updater_lines+=("$line")
        updater_ms+=("$(field ms "$line")")
        baseline_ms+=("$(field ms "$(driver baseline "$work")")")
    done
    echo "install runs, $files files (ms): updater ${updater_ms[*]}; baseline ${baseline_ms[*]}" >&2
    updater[$files]=$(median "${updater_ms[@]}")
    baseline[$files]=$(median "${baseline_ms[@]}")
    median_run=$(printf '%s\n' "${updater_lines[@]}" | sort -t= -k2 -g | sed -n "$(((runs + 1) / 2))p")
    echo "install $files files: updater ${updater[$files]} ms, baseline ${baseline[$files]} ms" \
        "(medians of $runs), ratio $(ratio "${updater[$files]}" "${baseline[$files]}")"
    echo "  $(breakdown "$median_run")"
done
for ((i = 1; i < ${#sizes[@]}; i++)); do
    from=${sizes[i - 1]} to=${sizes[i]}
    echo "install growth $from -> $to files (x$(ratio "$to" "$from") files):" \
        "updater x$(ratio "${updater[$to]}" "${updater[$from]}")," \
        "baseline x$(ratio "${baseline[$to]}" "${baseline[$from]}")"
done
