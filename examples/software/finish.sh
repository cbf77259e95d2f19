#!/bin/sh
# Post-install hook of the package: notes the update in the installation. The
# updater runs it from its own working directory, so the installation is found
# from the hook's own path.
set -eu
cd "$(dirname "$0")"
echo "$(date -u '+%Y-%m-%d %H:%M:%S UTC') Kestrel 2.0 installed" >> update-history.log
