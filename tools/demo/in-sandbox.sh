#!/usr/bin/env bash
# Runs inside the demo's sandbox, in the installation directory: the modem's
# device node, the running connection manager and the modem on a pty, as on a
# machine with the modem plugged in; then the updater. The exit statuses are
# left in the run directory.
#   in-sandbox.sh MODEM_SIM RUN_DIR   (BKSERIAL_DEVICE names the modem's link)
set -euo pipefail
modem_sim=$1
run=$2

# wait_for SECONDS WHAT COMMAND...: until COMMAND succeeds.
wait_for() {
    local tries=$(($1 * 10)) what=$2
    shift 2
    until "$@"; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            echo "demo: no $what" >&2
            return 1
        fi
        sleep 0.1
    done
}

restarted() {
    [ "$(wc -l < Kestrel.log)" -gt 1 ]
}

touch /dev/ttyUSB1
./Kestrel &
connection_manager=$!
wait_for 5 "connection manager" test -s Kestrel.log
# The user may take a while in the wizard before the flash begins.
"$modem_sim" --out "$run/modem" --link "$BKSERIAL_DEVICE" --idle-timeout 600 \
    > /dev/null 2> "$run/modem-sim.log" &
modem=$!
wait_for 5 "modem" test -e "$BKSERIAL_DEVICE"

status=0
./cmupdater > "$run/updater.out" 2> "$run/updater.err" || status=$?
echo "$status" > "$run/updater.status"

# A flash ends the simulator; without one it is still waiting.
kill "$modem" 2> /dev/null || true
modem_status=0
wait "$modem" || modem_status=$?
echo "$modem_status" > "$run/modem-sim.status"

# The updater stops the connection manager for an update and starts the new one.
if ! kill -0 "$connection_manager" 2> /dev/null; then
    wait_for 5 "restarted connection manager" restarted
fi
# Which connection manager runs now, by its last start note.
last_start=$(tail -n 1 Kestrel.log)
if kill -0 "${last_start##* }" 2> /dev/null; then
    echo "$last_start" > "$run/running"
fi
