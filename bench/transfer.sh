#!/usr/bin/env bash
# Transfer: the update agent downloading a 256 MiB package (size and MD5 checked,
# the file on disk before the agent reports it) from a local HTTP server, against
# curl -o of the same file from the same server; medians of RUNS runs each. Then
# where the agent's time goes: the same download without an MD5 to check, MD5
# alone on one core, and the agent's CPU time against its wall time. Last, a
# 64 MiB package over a link that drops every 16 MiB, continued by the agent,
# against the same download undisturbed.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-5}
size_mib=${SIZE_MIB:-256}
drop_mib=${DROP_MIB:-64}
drop_every_mib=${DROP_EVERY_MIB:-16}
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
root=$(new_work transfer)
mkdir "$root/docs" "$root/curl"
head -c "${size_mib}M" /dev/urandom >"$root/docs/package.zip"
head -c "${drop_mib}M" /dev/urandom >"$root/docs/small.zip"
size=$(stat -c %s "$root/docs/package.zip")
md5=$(md5sum "$root/docs/package.zip" | cut -d' ' -f1)
small_size=$(stat -c %s "$root/docs/small.zip")
small_md5=$(md5sum "$root/docs/small.zip" | cut -d' ' -f1)
mkdir "$root/dropping"
start_httpd "$root/dropping" "$root/docs" 1800 $((drop_every_mib << 20))
dropping_pid=$httpd_pid dropping_url=$httpd_url
start_httpd "$root" "$root/docs" 1800
# The packages are too large to leave lying in the build directory.
trap 'stop_httpd; kill "$dropping_pid" 2>/dev/null || true; rm -f "$root"/docs/*.zip' EXIT
url="$httpd_url/package.zip"

# agent_installation NAME URL SIZE MD5 [SETTING...]: a directory with the agent's
# settings and the selection the updater would have written for the package.
agent_installation() {
    local dir="$root/$1"
    mkdir -p "$dir"
    printf '%s\n' "[AGENT]" "SERVER_URL=$httpd_url" "${@:5}" >"$dir/UpdateCfg.ini"
    printf '%s' '<?xml version="1.0" encoding="UTF-8"?><UpdateConfig><UpdateFiles>' \
        "<UpdateFile Filename=\"package.zip\" Size=\"$3\" MD5=\"$4\" URL=\"$2\">" \
        '</UpdateFile></UpdateFiles><Ftp><Server><IP>127.0.0.1</IP><Port>21</Port>' \
        '<UserName>u</UserName><Password>p</Password></Server></Ftp></UpdateConfig>' \
        >"$dir/UserSelection.xml"
}
agent_installation agent "$url" "$size" "$md5"
agent_installation agent-unchecked "$url" "$size" ""
agent_installation undisturbed "$httpd_url/small.zip" "$small_size" "$small_md5"
# No pause before continuing: the figure is the cost of the drops themselves.
agent_installation dropped "$dropping_url/small.zip" "$small_size" "$small_md5" RETRY_PAUSE=0

ticks=$(getconf CLK_TCK)
server_cpu() {
    awk -v ticks="$ticks" '{ printf "%.3f", ($14 + $15) / ticks }' "/proc/$httpd_pid/stat"
}

# agent_once NAME [WRAPPER...]: one download, which must pass; prints the
# agent's "wall user sys worker" seconds and the server's CPU seconds.
agent_once() {
    local name=$1 line before
    shift
    before=$(server_cpu)
    line=$("$@" "$build_dir/agent-download" "$root/$name/UpdateCfg.ini" 2>/dev/null)
    rm -f "$root/$name"/package.zip*
    [ "$(field ok "$line")" = 1 ] || { echo "agent download failed: $line" >&2; return 1; }
    echo "$(field wall "$line") $(field user "$line") $(field sys "$line")" \
        "$(field worker "$line") $(awk -v a="$before" -v b="$(server_cpu)" 'BEGIN { print b - a }')"
}

# curl_once: curl's own "wall user sys" seconds and the server's CPU seconds.
curl_once() {
    local before wall cpu
    before=$(server_cpu)
    wall=$(/usr/bin/time -f '%U %S' -o "$root/curl.cpu" \
        curl -sS -f --noproxy '*' -o "$root/curl/package.zip" -w '%{time_total}' "$url")
    cpu=$(cat "$root/curl.cpu")
    [ "$(stat -c %s "$root/curl/package.zip")" = "$size" ] || { echo "curl: short" >&2; return 1; }
    rm -f "$root/curl/package.zip"
    echo "$wall $cpu $(awk -v a="$before" -v b="$(server_cpu)" 'BEGIN { print b - a }')"
}

mib_per_s() {
    awk -v bytes="$size" -v s="$1" 'BEGIN { printf "%.0f", bytes / 1048576 / s }'
}

sum() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'
}

agent_once agent >/dev/null
curl_once >/dev/null
agent_s=() curl_s=() receive_cpu=() md5_cpu=() agent_server=() curl_cpu=() curl_server=()
for _ in $(seq "$runs"); do
    read -r wall user sys worker server < <(agent_once agent)
    agent_s+=("$wall")
    receive_cpu+=("$worker")
    md5_cpu+=("$(awk -v u="$user" -v s="$sys" -v w="$worker" 'BEGIN { print u + s - w }')")
    agent_server+=("$server")
    read -r wall user sys server < <(curl_once)
    curl_s+=("$wall")
    curl_cpu+=("$(sum "$user" "$sys")")
    curl_server+=("$server")
done
unchecked_s=() md5_s=() sync_s=()
for _ in $(seq "$runs"); do
    read -r wall _ < <(agent_once agent-unchecked)
    unchecked_s+=("$wall")
    md5_s+=("$(field wall "$("$build_dir/md5-alone" "$root/docs/package.zip")")")
    # Only the sync calls stop in strace; the rest of the run goes at full speed.
    agent_once agent strace -f --seccomp-bpf -T -e trace=fsync,fdatasync,sync_file_range \
        -o "$root/sync.trace" >/dev/null
    sync_s+=("$(sed -n 's/.*<\([0-9.]*\)>$/\1/p' "$root/sync.trace" | awk '{ s += $1 } END { print s + 0 }')")
done
echo "transfer runs (s): agent ${agent_s[*]}; curl ${curl_s[*]};" \
    "agent without MD5 ${unchecked_s[*]}; MD5 alone ${md5_s[*]}" >&2

agent=$(mib_per_s "$(median "${agent_s[@]}")")
curl=$(mib_per_s "$(median "${curl_s[@]}")")
unchecked=$(mib_per_s "$(median "${unchecked_s[@]}")")
md5_alone=$(mib_per_s "$(median "${md5_s[@]}")")
echo "transfer: agent ${agent} MiB/s, curl ${curl} MiB/s (${size_mib} MiB, medians of $runs)," \
    "ratio $(ratio "$agent" "$curl") (goal >= 0.70)"
echo "  agent without an MD5 to check: ${unchecked} MiB/s, ratio $(ratio "$unchecked" "$curl");" \
    "MD5 alone on one core: ${md5_alone} MiB/s, $(ratio "$md5_alone" "$curl") of curl"
echo "  agent, s: wall $(median "${agent_s[@]}"), CPU of the receiving thread" \
    "$(median "${receive_cpu[@]}"), of the MD5 thread $(median "${md5_cpu[@]}"), of the server" \
    "$(median "${agent_server[@]}"); sync calls $(median "${sync_s[@]}")"
undisturbed_s=() dropped_s=()
requests_before=$(wc -l <"$root/dropping/requests.log")
for _ in $(seq "$runs"); do
    read -r wall _ < <(agent_once undisturbed)
    undisturbed_s+=("$wall")
    read -r wall _ < <(agent_once dropped)
    dropped_s+=("$wall")
done
requests=$(($(wc -l <"$root/dropping/requests.log") - requests_before))
echo "drop runs (s): undisturbed ${undisturbed_s[*]}; dropped ${dropped_s[*]}" >&2

echo "  curl, s: wall $(median "${curl_s[@]}"), CPU of curl $(median "${curl_cpu[@]}")," \
    "of the server $(median "${curl_server[@]}"); $(nproc) cores"
echo "dropped link: ${drop_mib} MiB dropped every ${drop_every_mib} MiB" \
    "$(median "${dropped_s[@]}") s, undisturbed $(median "${undisturbed_s[@]}") s," \
    "ratio $(ratio "$(median "${dropped_s[@]}")" "$(median "${undisturbed_s[@]}")")" \
    "($((requests / runs)) requests a download, medians of $runs)"
