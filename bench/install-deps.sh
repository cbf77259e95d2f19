#!/usr/bin/env bash
# Installs what the benchmarks need beyond the build's own packages (which
# tools/install-deps.sh installs): curl, the transfer's baseline; GNU time, for
# peak memory; strace, for the agent's sync calls; linux-perf, to look closer.
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
