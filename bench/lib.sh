# shellcheck shell=bash
# Sourced by the benchmark scripts: the build, the sandbox, the local HTTP
# server and the arithmetic they share.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$bench_dir")
build_dir="$source_dir/build/bench"
installed_dir="$build_dir/installed"
work_root="$build_dir/work"

export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
# Loopback traffic must not take a detour through a proxy.
unset http_proxy https_proxy ftp_proxy all_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY

# The optimised build the project ships (-O2 -g), the drivers and the
# installation the sandboxed runs copy.
build_bench() {
    cmake -S "$bench_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build_dir" -j"$(nproc)" >/dev/null
    cmake --install "$build_dir" --prefix "$installed_dir" >/dev/null
}

# new_work NAME: an empty work directory for one benchmark.
new_work() {
    local dir="$work_root/$1"
    rm -rf "$dir"
    mkdir -p "$dir"
    echo "$dir"
}

# new_installation ROOT SERVER_URL: a copy of the installation in ROOT/inst
# with a complete client identity and the agent pointed at SERVER_URL.
new_installation() {
    local inst="$1/inst"
    rm -rf "$inst"
    cp -a "$installed_dir" "$inst"
    cat >"$inst/UpdateCfg.ini" <<EOF
[UPDATE]
CM_NAME=Kestrel
DEVICE=RX481
SOFTWARE_VERSION=1.0
FIRMWARE_VERSION=F1
IMEI_ID=123456789012345
CLINT_GROUP=retail
[AGENT]
SERVER_URL=$2
EOF
}

# in_sandbox ROOT SCRIPT [BWRAP_OPTION...]: runs SCRIPT with bash in ROOT/inst,
# inside the same bubblewrap sandbox as the end-to-end tests (only ROOT writable,
# private /dev, /run and pid namespace), so the lock file, the device node and
# the kill lines never touch the machine.
in_sandbox() {
    bwrap --ro-bind / / --bind "$1" "$1" --dev /dev --tmpfs /run --proc /proc \
        --unshare-pid --die-with-parent "${@:3}" --chdir "$1/inst" /bin/bash -c "$2"
}

# start_httpd ROOT DOCS SECONDS [DROP_BYTES]: serves DOCS on 127.0.0.1 for at
# most SECONDS, logging requests to ROOT/requests.log, every connection closed
# after DROP_BYTES of a file when given; sets httpd_pid and httpd_url.
start_httpd() {
    rm -f "$1/httpd.port" "$1/requests.log"
    "$build_dir/bench-httpd" "$2" "$1/httpd.port" "$1/requests.log" "$3" ${4:+"$4"} &
    httpd_pid=$!
    local tries=0
    until [ -s "$1/httpd.port" ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 500 ] || { echo "bench-httpd did not start" >&2; return 1; }
        sleep 0.01
    done
    # shellcheck disable=SC2034 # for the scripts that source this
    httpd_url="http://127.0.0.1:$(cat "$1/httpd.port")"
}

stop_httpd() {
    if [ -n "${httpd_pid:-}" ]; then
        kill "$httpd_pid" 2>/dev/null || true
        wait "$httpd_pid" 2>/dev/null || true
        httpd_pid=
    fi
}

# median VALUE...: the median of the values (the mean of the middle two for an
# even count).
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratio A B: A / B with two decimals.
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
}

# field NAME LINE: the value of NAME=value in LINE.
field() {
    printf '%s\n' "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"
}
