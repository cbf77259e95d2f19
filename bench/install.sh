#!/usr/bin/env bash
# Install: the updater's software install (UpdateDispatcher::updateSW, with the
# private data kept) of packages with 100, 1,000 and 5,000 files, half of them
# replacing installed files, against unzip -q followed by cp -r of the same
# tree. Medians of RUNS runs per size, in the sandbox, each on a fresh copy of
# the installation; then the growth from one size to the next and the shell
# lines the install ran, by command; then the offline window of a whole end of
# download (connection manager killed to restarted, the 5 s pause for the modem
# included) for OFFLINE_FILES files (1,000). INSTALL_ON=tmpfs (the default) works in a
# tmpfs, which leaves the disk's own, noisy cost out; INSTALL_ON=disk works on
# the build directory's file system.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-3}
read -r -a sizes <<<"${INSTALL_SIZES:-100 1000 5000}"
install_on=${INSTALL_ON:-tmpfs}
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
root=$(new_work install)
mkdir "$root/inst" "$root/fs"
cp "$build_dir/install-driver" "$root/"
filesystem=()
[ "$install_on" = disk ] || filesystem=(--tmpfs "$root/fs")

# measure FILES: prepares the package and prints RUNS lines of "updater ..." and
# "baseline ..." runs, alternately, after one run to warm the caches. A tmpfs
# lasts as long as its sandbox, so all of it runs in one.
measure() {
    in_sandbox "$root" "set -e; cd ../fs; driver=../install-driver
        \$driver prepare w $1; \$driver updater w >/dev/null
        for _ in \$(seq $runs); do
            echo \"updater \$(\$driver updater w)\"; echo \"baseline \$(\$driver baseline w)\"
        done" "${filesystem[@]}"
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
    lines=$(measure "$files")
    if grep '^updater' <<<"$lines" | grep -qv 'installed=1'; then
        echo "install failed: $lines" >&2
        exit 1
    fi
    mapfile -t updater_ms < <(sed -n 's/^updater ms=\([0-9.]*\).*/\1/p' <<<"$lines")
    mapfile -t baseline_ms < <(sed -n 's/^baseline ms=\([0-9.]*\).*/\1/p' <<<"$lines")
    echo "install runs, $files files (ms): updater ${updater_ms[*]}; baseline ${baseline_ms[*]}" >&2
    updater[$files]=$(median "${updater_ms[@]}")
    baseline[$files]=$(median "${baseline_ms[@]}")
    median_run=$(grep '^updater' <<<"$lines" | sort -t= -k2 -g | sed -n "$(((runs + 1) / 2))p")
    echo "install $files files ($install_on): updater ${updater[$files]} ms," \
        "baseline ${baseline[$files]} ms (medians of $runs)," \
        "ratio $(ratio "${updater[$files]}" "${baseline[$files]}")"
    echo "  $(breakdown "$median_run")"
done
offline_files=${OFFLINE_FILES:-1000}
offline=$(in_sandbox "$root" "set -e; cd ../fs; driver=../install-driver
    \$driver prepare w $offline_files; \$driver offline w" "${filesystem[@]}")
echo "offline window, $offline_files files ($install_on): $(field offline_ms "$offline") ms" \
    "from killing the connection manager to starting it again (5,000 ms of it the pause)"

for ((i = 1; i < ${#sizes[@]}; i++)); do
    from=${sizes[i - 1]} to=${sizes[i]}
    echo "install growth $from -> $to files (x$(ratio "$to" "$from") files):" \
        "updater x$(ratio "${updater[$to]}" "${updater[$from]}")," \
        "baseline x$(ratio "${baseline[$to]}" "${baseline[$from]}")"
done
