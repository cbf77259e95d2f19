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

# The delta benchmark's real pairs, as the npm registry serves them, fetched
# once into the benchmarks' build directory: two patch releases of esbuild's
# statically linked Linux executable (Go) and two of rollup's native module
# (a shared object built by rustc). Without npm or the registry they are skipped.
pairs_dir="$(cd "$(dirname "$0")/.." && pwd)/build/bench/pairs"
mkdir -p "$pairs_dir"
for package in @esbuild/linux-x64@0.19.11 @esbuild/linux-x64@0.19.12 \
    @rollup/rollup-linux-x64-gnu@4.9.5 @rollup/rollup-linux-x64-gnu@4.9.6; do
    command -v npm >/dev/null || break
    # npm pack names the tarball after the package: @scope/name@1.0 gives scope-name-1.0.tgz.
    tarball=$(echo "${package#@}" | tr '/@' '--').tgz
    [ -s "$pairs_dir/$tarball" ] ||
        (cd "$pairs_dir" && timeout 120 npm pack --silent "$package" >/dev/null 2>&1) ||
        echo "$package not fetched (no registry?): the delta benchmark skips its pair" >&2
done
