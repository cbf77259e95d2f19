#!/usr/bin/env bash
# Responsiveness and memory over whole runs of the installed updater in the
# sandbox: the version check and the packages from a local HTTP server, the
# wizard driven offscreen by the end-to-end tests' autopilot, the download, the
# firmware flashed into the modem simulator and the software installed. A
# preloaded 5 ms timer on the GUI thread records the longest interval between its
# ticks once the event loop runs; GNU time records the peak resident memory.
# The baseline is a shown dialog of the same size with an idle event loop, under
# the same watch. Medians of RUNS runs.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

runs=${RUNS:-3}
files=${WHOLE_FILES:-1000}
blob_mib=${WHOLE_BLOB_MIB:-32}
firmware_kib=${WHOLE_FIRMWARE_KIB:-4096}
[ -n "${BENCH_NO_BUILD:-}" ] || build_bench
root=$(new_work wholerun)
docs="$root/docs"
mkdir "$docs"
modem_sim="$build_dir/updater/tools/modem-sim/modem-sim"
preload="$build_dir/libbench-autopilot.so $build_dir/libguiwatch.so"

# The software package: small files, half of them replacing installed ones,
# and one large file; the firmware package: an image and an NV file.
"$build_dir/install-driver" prepare "$root/software" "$files"
head -c "${blob_mib}M" /dev/urandom >"$root/software/tree/blob.bin"
(cd "$root/software/tree" && zip -q ../sw.zip blob.bin)
mv "$root/software/sw.zip" "$docs/sw.zip"
mkdir -p "$root/firmware/efs"
head -c "${firmware_kib}K" /dev/urandom >"$root/firmware/amss.mbn"
echo "nv items" >"$root/firmware/efs/nv.bin"
(cd "$root/firmware" && zip -q -r "$docs/fw.zip" .)

start_httpd "$root" "$docs" 1800
trap stop_httpd EXIT

package() {
    local file="$docs/$2"
    printf '<Package Class="%s" Filename="%s" Size="%s" MD5="%s" URL="%s" PriorityFlag="1"' \
        "$1" "$2" "$(stat -c %s "$file")" "$(md5sum "$file" | cut -d' ' -f1)" "$httpd_url/$2"
    printf ' Version="2.0">%s 2.0</Package>' "$1"
}
cat >"$docs/Description.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<UpdateDescription>
  <Info><Version>2.0</Version><Description>Faster and safer</Description><Device>RX481</Device><ClientGroup>retail</ClientGroup><ClientID>1</ClientID></Info>
  <Packages>$(package "Software Version" sw.zip)$(package "Firmware Version" fw.zip)</Packages>
  <Servers><Server><IP>127.0.0.1</IP><Port>21</Port><UserName>u</UserName><Password>p</Password></Server></Servers>
</UpdateDescription>
EOF

# A fresh installation for every run, with the connection manager a real
# process that the updater must stop.
prepare_run() {
    rm -rf "$root/received" "$root/modem" "$root"/updater.*.txt "$root"/{rc,seconds,modem}.txt
    new_installation "$root" "$httpd_url"
    cp -a "$root/software/installed/." "$root/inst/"
    # Started again without arguments after the install, it must stay up
    # through the watch.
    cp "$build_dir/bench-manager" "$root/inst/Kestrel"
}

# watched NAME PRELOAD PROGRAM...: the sandbox's command line for PROGRAM under
# the watch, its findings in NAME.guiwatch.txt and NAME.maxrss.txt.
watched() {
    echo "GUIWATCH_OUT='$root/$1.guiwatch.txt' /usr/bin/time -f %M -o ../$1.maxrss.txt" \
        "env LD_PRELOAD='$2' ${*:3} >../$1.out.txt 2>../$1.err.txt"
}

updater_run() {
    prepare_run
    in_sandbox "$root" "touch /dev/ttyUSB1
        (./Kestrel &)
        '$modem_sim' --out ../received --link ../modem --idle-timeout 120 >../modem.txt &
        while [ ! -e ../modem ]; do sleep 0.05; done
        export AUTOPILOT_TICK=0,1 AUTOPILOT_BACKUP=yes BKSERIAL_DEVICE=../modem
        start=\$EPOCHREALTIME
        $(watched updater "$preload" ./cmupdater)
        echo \$? >../rc.txt
        awk -v a=\"\$start\" -v b=\"\$EPOCHREALTIME\" 'BEGIN { printf \"%.1f\", b - a }' >../seconds.txt"
    [ "$(cat "$root/rc.txt")" = 0 ] || { echo "updater: exit $(cat "$root/rc.txt")" >&2; return 1; }
    cmp -s "$root/received/amss.mbn" "$root/firmware/amss.mbn" || { echo "not flashed" >&2; return 1; }
    cmp -s "$root/inst/blob.bin" "$root/software/tree/blob.bin" || { echo "not installed" >&2; return 1; }
}

baseline_run() {
    rm -f "$root"/idle.*.txt
    in_sandbox "$root" "$(watched idle "$build_dir/libguiwatch.so" "$build_dir/idle-dialog" 3)"
}

# longest_gap NAME: the longest gap once the loop ran, as "ms run wait at" (the
# GUI thread's run and run-queue wait times in it, its end after the start).
longest_gap() {
    awk '$1 == "gap" { for (i = 2; i <= 5; i++) sub(/^[a-z]*=/, "", $i); last = $2 " " $3 " " $4 " " $5 }
         END { print last }' "$root/$1.guiwatch.txt"
}

# last_log_before MS: what the updater had said last by then, for the phase.
last_log_before() {
    awk -v t="$1" '$1 == "log" { at = $2; sub("at=", "", at)
                       if (at + 0 <= t) { $1 = ""; $2 = ""; text = $0 } }
                   END { sub(/^ +/, "", text); print (text == "" ? "(start)" : text) }' \
        "$root/updater.guiwatch.txt"
}

# peak_hwm: the last VmHWM the watch saw and when.
peak_hwm() {
    awk '$1 == "hwm" { kib = $2; at = $3 } END { sub("kib=", "", kib); sub("at=", "", at)
         printf "%.1f MiB at %.1f s", kib / 1024, at / 1000 }' "$root/updater.guiwatch.txt"
}

# run_note GAP RUN WAIT AT: the longest gap with what the GUI thread did in it,
# what the updater had said last when it began, when the loop began, and when
# the memory peaked.
run_note() {
    local began seconds
    began=$(awk -v a="$4" -v g="$1" 'BEGIN { print a - g }')
    seconds=$(awk -v t="$4" 'BEGIN { printf "%.2f", t / 1000 }')
    echo "$1 ms (GUI thread ran $2 ms, waited for a core $3 ms) ending at $seconds s," \
        "after \"$(last_log_before "$began")\";" \
        "loop from $(sed -n 's/^loop at=//p' "$root/updater.guiwatch.txt") ms; VmHWM $(peak_hwm)"
}

# mib NAME: the peak resident memory that GNU time saw, in MiB.
mib() {
    awk -v kib="$(cat "$root/$1.maxrss.txt")" 'BEGIN { printf "%.1f", kib / 1024 }'
}

gaps=() peaks=() whole_s=() notes=()
idle_gaps=() idle_peaks=()
for _ in $(seq "$runs"); do
    updater_run
    read -r gap run wait at < <(longest_gap updater)
    gaps+=("$gap")
    peaks+=("$(mib updater)")
    whole_s+=("$(cat "$root/seconds.txt")")
    notes+=("$(run_note "$gap" "$run" "$wait" "$at")")
    baseline_run
    read -r gap _ < <(longest_gap idle)
    idle_gaps+=("$gap")
    idle_peaks+=("$(mib idle)")
done
printf 'whole run: %s\n' "${notes[@]}" >&2
echo "whole runs (s): ${whole_s[*]}; gaps (ms): ${gaps[*]}; idle ${idle_gaps[*]};" \
    "peak RSS (MiB): ${peaks[*]}; idle ${idle_peaks[*]}" >&2

gap=$(median "${gaps[@]}")
idle_gap=$(median "${idle_gaps[@]}")
peak=$(median "${peaks[@]}")
idle_peak=$(median "${idle_peaks[@]}")
echo "responsiveness: longest GUI event-loop gap ${gap} ms over a whole run" \
    "($(median "${whole_s[@]}") s), idle dialog ${idle_gap} ms (medians of $runs)," \
    "ratio $(ratio "$gap" "$idle_gap") (goal < 50 ms)"
echo "memory: peak RSS ${peak} MiB over a whole run, idle dialog ${idle_peak} MiB" \
    "(medians of $runs), ratio $(ratio "$peak" "$idle_peak") (goal < 80 MiB)"
