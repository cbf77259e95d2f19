#!/usr/bin/env bash
# Deltas: for the demo's pair (Kestrel 1.0 to 2.0), for a pair made from two
# builds of this project's own binaries that differ in one source line (the
# updater and the publisher's tool, stripped, with the libraries) and for a
# real pair of compiled programs this project did not write (esbuild 0.19.11
# to 0.19.12, a patch release of a statically linked 9.6 MB executable, from
# the npm registry, fetched by install-deps.sh), the bytes of the delta
# (cmupdater-publish delta) against the full package and against bsdiff on the
# same changed files, the publisher's time and peak resident memory, the time
# the updater's code takes to rebuild the new tree from it against the time
# the saved bytes would take at 384 kbit/s, and the rebuild's peak resident
# memory. Medians of RUNS rebuilds.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-5}
link_kbit=384
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
command -v bsdiff >/dev/null || { echo "bsdiff is missing: bench/install-deps.sh" >&2; exit 1; }
root=$(new_work delta)
publish=$build_dir/updater/tools/publish/cmupdater-publish

# bsdiff_bytes OLD_TREE NEW_TREE: the bytes bsdiff needs for the files that
# changed, plus the new files compressed whole.
bsdiff_bytes() {
    local total=0 name size
    while IFS= read -r -d '' name; do
        if [ -f "$1/$name" ]; then
            cmp -s "$1/$name" "$2/$name" && continue
            bsdiff "$1/$name" "$2/$name" "$root/patch" >/dev/null
            size=$(stat -c %s "$root/patch")
        else
            size=$(zstd -19 -q -c "$2/$name" | wc -c)
        fi
        total=$((total + size))
    done < <(cd "$2" && find . -type f -printf '%P\0')
    echo "$total"
}

# measure NAME OLD.zip NEW.zip
measure() {
    local dir=$root/$1 full delta bsdiff ms=() peak line saved_ms
    mkdir -p "$dir/old" "$dir/new"
    unzip -qq "$2" -d "$dir/old"
    unzip -qq "$3" -d "$dir/new"
    /usr/bin/time -f '%e %M' -o "$dir/publish.time" "$publish" delta "$2" "$3" "$dir/pair.delta" >/dev/null
    full=$(stat -c %s "$3")
    delta=$(stat -c %s "$dir/pair.delta")
    bsdiff=$(bsdiff_bytes "$dir/old" "$dir/new")
    for _ in $(seq "$runs"); do
        rm -rf "$dir/rebuilt"
        line=$("$build_dir/delta-rebuild" "$dir/pair.delta" "$dir/old" "$dir/rebuilt")
        ms+=("$(field ms "$line")")
        peak=$(field peak_kib "$line")
    done
    diff -r "$dir/new" "$dir/rebuilt" >/dev/null || { echo "$1: rebuilt tree differs" >&2; exit 1; }
    saved_ms=$(awk -v b="$((full - delta))" -v k="$link_kbit" 'BEGIN { printf "%.0f", b * 8 / k }')
    echo "$1: delta $delta bytes, full package $full bytes, ratio $(ratio "$((100 * delta))" "$full") %" \
        "(${4:-goal <= 2 %}); bsdiff $bsdiff bytes, ratio $(ratio "$delta" "$bsdiff") (goal <= 1.0, target 0.8)"
    read -r publish_s publish_kib <"$dir/publish.time"
    echo "$1: publisher $publish_s s, peak resident $((publish_kib / 1024)) MiB"
    echo "$1: rebuild $(median "${ms[@]}") ms against $saved_ms ms for the saved bytes at" \
        "$link_kbit kbit/s; peak resident $((peak / 1024)) MiB (goal < 100 MiB)"
}

# pack_build VARIANT ZIP: the installed tree with that build's two binaries, stripped.
pack_build() {
    local tree=$root/build$1
    rm -rf "$tree"
    cp -a "$installed_dir" "$tree"
    cp "$build_dir/cmupdater-build$1" "$tree/cmupdater"
    cp "$build_dir/cmupdater-publish-build$1" "$tree/cmupdater-publish"
    find "$tree" -type f \( -name cmupdater -o -name cmupdater-publish -o -name '*.so' \) -exec strip {} +
    (cd "$tree" && zip -q -r -X "$2" .)
}

examples=$build_dir/updater/examples
measure demo "$examples/previous/Kestrel-1.0.zip" "$examples/source/Kestrel-2.0.zip"
pack_build 1 "$root/build1.zip"
pack_build 2 "$root/build2.zip"
measure own-binaries "$root/build1.zip" "$root/build2.zip"

# pack_npm VERSION ZIP: the npm package's tree of that esbuild release as a
# software package.
pack_npm() {
    local tree=$root/esbuild-$1
    mkdir -p "$tree"
    tar -xzf "$pairs_dir/esbuild-linux-x64-$1.tgz" -C "$tree"
    (cd "$tree/package" && zip -q -r -X "$2" .)
}

pairs_dir=$source_dir/build/bench/pairs
if [ -s "$pairs_dir/esbuild-linux-x64-0.19.11.tgz" ] && [ -s "$pairs_dir/esbuild-linux-x64-0.19.12.tgz" ]; then
    pack_npm 0.19.11 "$root/esbuild-0.19.11.zip"
    pack_npm 0.19.12 "$root/esbuild-0.19.12.zip"
    measure esbuild "$root/esbuild-0.19.11.zip" "$root/esbuild-0.19.12.zip" "no goal: a patch release of compiled code"
else
    echo "esbuild: skipped, the pair was not fetched (bench/install-deps.sh needs the npm registry)"
fi
