#!/usr/bin/env bash
# Deltas: for the demo's pair (Kestrel 1.0 to 2.0), for a pair made from two
# builds of this project's own binaries that differ in one source line (the
# updater and the publisher's tool, stripped, with the libraries) and for real
# pairs of compiled programs this project did not write, from the npm registry
# (fetched by install-deps.sh): esbuild 0.19.11 to 0.19.12, a patch release of
# a statically linked 9.6 MB Go executable, and rollup 4.9.5 to 4.9.6, a patch
# release of a 2.6 MB native module (a shared object rustc built). For each,
# the bytes of the delta (cmupdater-publish delta) against the full package
# and against bsdiff and zstd's patch mode on the same changed files, the
# publisher's time and peak resident memory, the time the updater's code takes
# to rebuild the new tree from it against the time the saved bytes would take
# at 384 kbit/s, and the rebuild's peak resident memory. Medians of RUNS
# rebuilds. For the real pairs, each encoder alone on the changed program
# (delta-encoders): the suffix difference against the ELF difference.
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

# zstd_bytes OLD_TREE NEW_TREE: the same with zstd's patch mode (level 19,
# long-distance matching over both files), as the existing files' baseline.
zstd_bytes() {
    local total=0 name size
    while IFS= read -r -d '' name; do
        if [ -f "$1/$name" ]; then
            cmp -s "$1/$name" "$2/$name" && continue
            size=$(zstd -19 -q --long=27 --patch-from="$1/$name" -c "$2/$name" 2>/dev/null | wc -c)
        else
            size=$(zstd -19 -q -c "$2/$name" | wc -c)
        fi
        total=$((total + size))
    done < <(cd "$2" && find . -type f -printf '%P\0')
    echo "$total"
}

# measure NAME OLD.zip NEW.zip [PACKAGE_GOAL [BSDIFF_GOAL]]
measure() {
    local dir=$root/$1 full delta bsdiff zstd ms=() peak line saved_ms
    mkdir -p "$dir/old" "$dir/new"
    unzip -qq "$2" -d "$dir/old"
    unzip -qq "$3" -d "$dir/new"
    /usr/bin/time -f '%e %M' -o "$dir/publish.time" "$publish" delta "$2" "$3" "$dir/pair.delta" >/dev/null
    full=$(stat -c %s "$3")
    delta=$(stat -c %s "$dir/pair.delta")
    bsdiff=$(bsdiff_bytes "$dir/old" "$dir/new")
    zstd=$(zstd_bytes "$dir/old" "$dir/new")
    for _ in $(seq "$runs"); do
        rm -rf "$dir/rebuilt"
        line=$("$build_dir/delta-rebuild" "$dir/pair.delta" "$dir/old" "$dir/rebuilt")
        ms+=("$(field ms "$line")")
        peak=$(field peak_kib "$line")
    done
    diff -r "$dir/new" "$dir/rebuilt" >/dev/null || { echo "$1: rebuilt tree differs" >&2; exit 1; }
    saved_ms=$(awk -v b="$((full - delta))" -v k="$link_kbit" 'BEGIN { printf "%.0f", b * 8 / k }')
    echo "$1: delta $delta bytes, full package $full bytes, ratio $(ratio "$((100 * delta))" "$full") %" \
        "(${4:-goal <= 2 %}); bsdiff $bsdiff bytes, ratio $(ratio "$delta" "$bsdiff")" \
        "(${5:-goal <= 1.0, target 0.8}); zstd --patch-from $zstd bytes, ratio $(ratio "$delta" "$zstd")"
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
    # A package may not carry the installation's own settings and texts.
    rm -rf "$tree/UpdateCfg.ini" "$tree/translations"
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

# pack_npm TARBALL ZIP: an npm package's tree as a software package.
pack_npm() {
    local tree=$root/$(basename "$1" .tgz)
    mkdir -p "$tree"
    tar -xzf "$1" -C "$tree"
    (cd "$tree/package" && zip -q -r -X "$2" .)
}

# measure_npm NAME OLD_TARBALL NEW_TARBALL PROGRAM: the pair as packages, then
# each encoder alone on the program they hold.
measure_npm() {
    local old=$pairs_dir/$2.tgz new=$pairs_dir/$3.tgz
    if ! [ -s "$old" ] || ! [ -s "$new" ]; then
        echo "$1: skipped, the pair was not fetched (bench/install-deps.sh needs the npm registry)"
        return
    fi
    pack_npm "$old" "$root/$2.zip"
    pack_npm "$new" "$root/$3.zip"
    measure "$1" "$root/$2.zip" "$root/$3.zip" "no goal: a patch release of compiled code" \
        "goal <= 0.6, moonshot 0.5"
    echo "$1: encoders on $4: $("$build_dir/delta-encoders" "$root/$1/old/$4" "$root/$1/new/$4")"
}

pairs_dir=$source_dir/build/bench/pairs
measure_npm esbuild esbuild-linux-x64-0.19.11 esbuild-linux-x64-0.19.12 bin/esbuild
measure_npm rollup rollup-rollup-linux-x64-gnu-4.9.5 rollup-rollup-linux-x64-gnu-4.9.6 \
    rollup.linux-x64-gnu.node
