#!/usr/bin/env bash
# Installs what the benchmarks need beyond the build's own packages (which
# tools/install-deps.sh installs): curl, the transfer's baseline; GNU time, for
# peak memory; strace, for the agent's sync calls; linux-perf, to look closer;
# npm (with Node.js), when present, fetches the delta benchmark's real pair.
set -euo pipefail
"$(dirname "$0")/../tools/install-deps.sh"

packages=(curl time strace linux-perf)
# dpkg -s fails when any of them is not installed.
if ! dpkg -s "${packages[@]}" >/dev/null 2>&1; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}"
fi

# The delta benchmark's real pair: two patch releases of esbuild's statically
# linked Linux executable as the npm registry serves them, fetched once into
# the benchmarks' build directory. Without npm or the registry the pair is skipped.
pairs_dir="$(cd "$(dirname "$0")/.." && pwd)/build/bench/pairs"
mkdir -p "$pairs_dir"
for version in 0.19.11 0.19.12; do
    command -v npm >/dev/null || break
    [ -s "$pairs_dir/esbuild-linux-x64-$version.tgz" ] ||
        (cd "$pairs_dir" && timeout 120 npm pack --silent "@esbuild/linux-x64@$version" >/dev/null 2>&1) ||
        echo "esbuild $version not fetched (no registry?): the delta benchmark skips the real pair" >&2
done
