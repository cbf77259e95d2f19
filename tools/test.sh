#!/usr/bin/env bash
# What CI runs. The layout is checked with clang-format first. Then one
# optimised build with debug info, made with the Debian packager's flags
# (dpkg-buildflags, hardening=+all), with the benchmarks' drivers compiled,
# runs every test: unit, end-to-end, fuzz, and the Debian package made from
# it, installed into a scratch root, its binaries through hardening-check. An
# AddressSanitizer and UndefinedBehaviorSanitizer build then runs every test
# but those labelled slow (see tests/CMakeLists.txt). Each phase's time is
# printed as it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

jobs=$(nproc)
phase() {
    local start=$SECONDS
    "$@"
    echo "== $((SECONDS - start)) s: $*"
}

check_format() {
    git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
}
phase check_format

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
phase cmake --preset default -DCMUPDATER_BENCH=ON \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)"
phase cmake --build --preset default -j"$jobs"
phase ctest --preset default -j"$jobs"

phase cmake --preset asan
phase cmake --build --preset asan -j"$jobs"
phase ctest --preset asan -j"$jobs"
