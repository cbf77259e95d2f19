#!/usr/bin/env bash
# The demo: a complete update of the sample connection manager Kestrel and its
# RX481 modem from the update source bundled in examples/, needing nothing from
# outside the machine. Installs what is missing, builds, lays out an
# installation with the connection manager running, the user's data and the
# public key the bundled source is signed with (a throw-away key of the build),
# and runs the updater with a simulated modem inside a bubblewrap sandbox.
# With a usable display the updater's window opens for you to click through;
# without one, or with --headless, the window is driven under Xvfb and a
# screenshot is taken of each page, and of the dialog in every language.
# A second run offers a broken version 2.1 that exits at once: the updater's
# watch finds it gone and puts 1.0 back. The update history is printed last.
# Ends with a summary of its checks, and a non-zero status when any failed.
#
#   tools/demo.sh [--headless] [--language en_US|de_DE|zh_CN] [--build-dir DIR] [--out DIR]
#
#   --headless       drive the window under Xvfb even when a display is there
#   --language LANG  the dialog's language (default: $LANGUAGE_TYPE, else en_US)
#   --build-dir DIR  use the build in DIR as it is: nothing is installed or built
#   --out DIR        where the runs and screenshots go (default: build/demo-run)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=SCRIPTDIR/demo/window.sh
source "$repo/tools/demo/window.sh"

readonly languages=(en_US de_DE zh_CN)
headless=no
language=${LANGUAGE_TYPE:-en_US}
build=
out=$repo/build/demo-run
xvfb=
sandbox_pid=
checks=0
failures=0

usage() {
    sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0"
}

die() {
    echo "demo: $*" >&2
    exit 2
}

parse_options() {
    while [ $# -gt 0 ]; do
        case $1 in
        --headless) headless=yes ;;
        --language) language=${2:?--language needs a value}; shift ;;
        --build-dir) build=$(realpath "${2:?--build-dir needs a directory}"); shift ;;
        --out) out=$(realpath -m "${2:?--out needs a directory}"); shift ;;
        -h | --help) usage; exit 0 ;;
        *) die "unknown option $1; see tools/demo.sh --help" ;;
        esac
        shift
    done
    case " ${languages[*]} " in
    *" $language "*) ;;
    *) die "no dialog language $language; there are ${languages[*]}" ;;
    esac
}

build_everything() {
    "$repo/tools/install-deps.sh"
    (cd "$repo" && cmake --preset default && cmake --build --preset default -j"$(nproc)")
    build=$repo/build/default
}

find_built_parts() {
    modem_sim=$build/tools/modem-sim/modem-sim
    update_source=$build/examples/source
    old_connection_manager=$build/examples/cm-1.0/Kestrel
    new_connection_manager=$build/examples/cm-2.0/Kestrel
    demo_key=$build/examples/demo-key/update-key.pem
    previous_package=$build/examples/previous/Kestrel-1.0.zip
    delta=$update_source/Kestrel-2.0-from-Kestrel-1.0.delta
    broken_source=$build/examples/source-2.1
    local part
    for part in "$modem_sim" "$update_source/Description.xml" "$update_source/Description.xml.sig" \
        "$broken_source/Description.xml.sig" \
        "$old_connection_manager" "$new_connection_manager" "$demo_key" "$previous_package" \
        "$delta"; do
        [ -e "$part" ] || die "$part is missing: build the project first"
    done
}

# write_settings INSTALLATION LANGUAGE [SOURCE]: a complete client identity,
# the agent pointed at the bundled update source, or at SOURCE; the new
# connection manager is watched for 5 seconds.
write_settings() {
    local url
    url=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri())' \
        "${3:-$update_source}")
    cat > "$1/UpdateCfg.ini" << EOF
[UPDATE]
CM_NAME=Kestrel
DEVICE=RX481
SOFTWARE_VERSION=1.0
FIRMWARE_VERSION=F1.0
IMEI_ID=356938035643809
CLINT_GROUP=retail
LANGUAGE_TYPE=$2
DeviceReady=1
WVDIAL=0
HEALTH_TIME=5

[Service]
APP_PATH=$1

[AGENT]
SERVER_URL=$url
EOF
}

# lay_out RUN LANGUAGE [SOURCE]: a fresh installation of the updater with the
# connection manager 1.0, the user's data, the tree of the package 1.0 as the
# updater keeps it after an install (the base of the offered delta) and the
# public key the bundled update source is signed with, in the run's own
# directory.
lay_out() {
    local run=$out/$1
    rm -rf "$run"
    mkdir -p "$run/modem"
    cmake --install "$build" --prefix "$run/Kestrel" > "$run/install.log"
    cp -R "$repo/examples/installation/." "$run/Kestrel/"
    cp "$old_connection_manager" "$run/Kestrel/"
    cp "$demo_key" "$run/Kestrel/update-key.pem"
    unzip -qq "$previous_package" -d "$run/Kestrel/.installed_package"
    write_settings "$run/Kestrel" "$2" "${3:-}"
}

# start_sandbox RUN: the run's connection manager, modem and updater in a
# sandbox with its own /dev, /run and process ids, so that the lock file, the
# kill lines and the removal of /dev/ttyUSB1 stay inside it. Only the run's
# directory is writable.
start_sandbox() {
    local run=$out/$1 x_cookie=()
    # A desktop session's X cookie under /run would be hidden by the sandbox's /run.
    if [ -f "${XAUTHORITY:-}" ]; then
        x_cookie=(--ro-bind "$XAUTHORITY" "$XAUTHORITY")
    fi
    # Qt is held to X, also in a Wayland session, for xdotool and the screenshots.
    timeout --foreground 600 bwrap --ro-bind / / --bind "$run" "$run" --dev /dev \
        --tmpfs /run "${x_cookie[@]}" --proc /proc --unshare-pid --die-with-parent \
        --setenv BKSERIAL_DEVICE "$run/modem.tty" --setenv QT_QPA_PLATFORM xcb \
        --chdir "$run/Kestrel" \
        /bin/bash "$repo/tools/demo/in-sandbox.sh" "$modem_sim" "$run" 2> "$run/sandbox.log" &
    sandbox_pid=$!
}

# end_sandbox [kill]: waits for the sandbox to end, or ends it.
end_sandbox() {
    if [ "${1:-}" = kill ]; then
        kill "$sandbox_pid" 2> /dev/null || true
    fi
    wait "$sandbox_pid" || true
    sandbox_pid=
}

start_xvfb() {
    local display_file=$out/xvfb.display tries=50
    : > "$display_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp \
        3> "$display_file" 2> "$out/xvfb.log" &
    xvfb=$!
    until [ -s "$display_file" ]; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || die "Xvfb did not start, see $out/xvfb.log"
        sleep 0.1
    done
    DISPLAY=:$(cat "$display_file")
    export DISPLAY
}

cleanup() {
    if [ -n "$sandbox_pid" ]; then
        kill "$sandbox_pid" 2> /dev/null || true
    fi
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2> /dev/null || true
    fi
}

display_usable() {
    [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry > /dev/null 2>&1
}

# check WHAT COMMAND...: one line of the summary.
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    if "$@" > /dev/null 2>&1; then
        echo "  ok    $what"
    else
        echo "  FAIL  $what"
        failures=$((failures + 1))
    fi
}

# to_package_table LANGUAGE: waits for the dialog, takes the notice's
# screenshot and presses Next. Leaves the window in $dialog, its title in $title.
to_package_table() {
    dialog=$(await_window 30) || return 1
    title=$(xdotool getwindowname "$dialog")
    sleep 0.5
    screenshot "$dialog" "$shots/$1-1-notice.png"
    click "$dialog" "${next_button[@]}"
}

# drive_update: both packages ticked, Update, Yes; a screenshot of each page.
drive_update() {
    local box shot=$shots/$language
    to_package_table "$language" || return 1
    click "$dialog" "${software_box[@]}"
    click "$dialog" "${firmware_box[@]}"
    screenshot "$dialog" "$shot-2-selection.png"
    click "$dialog" "${update_button[@]}"
    box=$(await_window 10 "$dialog") || return 1
    sleep 0.3
    screenshot "$dialog" "$shot-3-question.png" "$box"
    answer "$box" Return
    # The updater pauses 5 s after stopping the connection manager.
    sleep 1.5
    screenshot "$dialog" "$shot-4-updating.png"
    last_screenshot "$dialog" "$shot-5-end.png" 45
}

# drive_broken: the software package alone, Update, Yes; then the warning that
# the previous version is back, answered with OK.
drive_broken() {
    local box
    to_package_table "$language-broken" || return 1
    click "$dialog" "${software_box[@]}"
    click "$dialog" "${update_button[@]}"
    box=$(await_window 10 "$dialog") || return 1
    answer "$box" Return
    sleep 1
    box=$(await_window 60 "$dialog") || return 1
    sleep 0.3
    screenshot "$box" "$shots/$language-broken-warning.png"
    answer "$box" Return
}

# drive_tour LANGUAGE: the package table, then Cancel.
drive_tour() {
    to_package_table "$1" || return 1
    screenshot "$dialog" "$shots/$1-2-selection.png"
    click "$dialog" "${cancel_button[@]}"
}

# speaks LANGUAGE: whether the dialog's title was that of LANGUAGE.
speaks() {
    if [ "$1" = en_US ]; then
        [ "$title" = Updater ]
    else
        [ -n "$title" ] && [ "$title" != Updater ]
    fi
}

status_is() {
    [ "$(cat "$1" 2> /dev/null)" = "$2" ]
}

# driven RUN DRIVER...: the driver's run in the sandbox; the sandbox is ended
# at once when the driver fails.
driven() {
    local run=$1
    shift
    start_sandbox "$run"
    if "$@"; then
        end_sandbox
    else
        end_sandbox kill
        return 1
    fi
}

heading() {
    echo "Update from Kestrel 1.0 and firmware F1.0 to 2.0 and F2.0 ($language$1):"
}

headless_update() {
    shots=$out/screenshots
    rm -rf "$shots"
    mkdir -p "$shots"
    start_xvfb
    lay_out update "$language"
    heading ", on Xvfb"
    title=
    check "the window was driven through the update" driven update drive_update
    check "the dialog spoke $language (title \"$title\")" speaks "$language"
}

interactive_update() {
    lay_out update "$language"
    echo "The updater's window opens on display $DISPLAY. Press Next, tick both packages,"
    echo "press Update and answer Yes to keep the private data."
    start_sandbox update
    end_sandbox
    heading ""
}

# tour LANGUAGE: a short run in another language, cancelled on the package table.
tour() {
    lay_out "tour-$1" "$1"
    title=
    check "the window was driven to Cancel ($1)" driven "tour-$1" drive_tour "$1"
    check "the dialog spoke $1 (title \"$title\")" speaks "$1"
    check "Cancel ended the updater with status 0 ($1)" status_is "$out/tour-$1/updater.status" 0
}

new_version_installed() {
    cmp "$new_connection_manager" "$installation/Kestrel" &&
        cmp "$repo/examples/software/whatsnew.txt" "$installation/whatsnew.txt"
}

new_version_running() {
    grep '^Kestrel 2\.0 ' "$out/update/running"
}

# last_result RESULT: the history's newest record ended so.
last_result() {
    tail -n 1 "$installation/update-history.jsonl" | grep "\"result\":\"$1\""
}

# The installation holds the key, took the source's key list and the signed
# description (its issue time is remembered) and refused nothing.
update_verified() {
    [ -s "$installation/update-key.pem" ] && [ -s "$installation/trusted-keys.xml" ] &&
        [ -s "$installation/update-issued" ] &&
        ! grep -E 'refused|not verified' "$out/update/updater.err"
}

work_files_removed() {
    local name
    for name in Description.xml UserSelection.xml updatebak.ini download bak .private_data_bak \
        finish.sh Kestrel-2.0.zip Kestrel-2.1.zip "${delta##*/}" FirmwareUpdatePackage_win.zip; do
        [ ! -e "$installation/$name" ] || return 1
    done
}

# The software came as the delta, and the installation now keeps the 2.0 tree
# as the next delta's base.
delta_used() {
    grep -q "software download: delta ${delta##*/}" "$out/update/updater.err" &&
        ! grep -q 'delta not used' "$out/update/updater.err" &&
        cmp "$new_connection_manager" "$installation/.installed_package/Kestrel"
}

check_update() {
    local run=$out/update full_bytes delta_bytes
    installation=$run/Kestrel
    full_bytes=$(stat -c %s "$update_source/Kestrel-2.0.zip")
    delta_bytes=$(stat -c %s "$delta")
    check "the software came as a delta of $delta_bytes bytes for the $full_bytes-byte package" \
        delta_used
    echo "Bytes saved by the delta: $((full_bytes - delta_bytes))" \
        "($((100 * delta_bytes / full_bytes)) % of the package downloaded)"
    check "the updater ended with status 0" status_is "$run/updater.status" 0
    check "the signed description and packages verified with the installed key" update_verified
    check "firmware F2.0 reached the modem byte for byte" diff -r "$repo/examples/firmware" "$run/modem"
    check "the modem simulator saw a whole flash" status_is "$run/modem-sim.status" 0
    check "Kestrel 2.0 installed over 1.0" new_version_installed
    check "the private data in Data/ kept" diff -r "$repo/examples/installation/Data" "$installation/Data"
    check "the package's post-install hook ran" grep 'Kestrel 2.0 installed' "$installation/update-history.log"
    check "Kestrel set-user-id (mode 4755)" test "$(stat -c %a "$installation/Kestrel")" = 4755
    check "the connection manager restarted in version 2.0 and kept running" new_version_running
    check "the history records the update as installed" last_result installed
    check "the updater's work files removed" work_files_removed
}

broken_update() {
    echo
    echo "Update from Kestrel 1.0 to a broken 2.1 that exits at once ($language):"
    lay_out broken "$language" "$broken_source"
    if [ -n "$xvfb" ]; then
        check "the window was driven through the update and the warning" driven broken drive_broken
    else
        echo "Press Next, tick the software package, press Update, answer Yes, and OK"
        echo "to the warning at the end."
        start_sandbox broken
        end_sandbox
    fi
}

check_broken() {
    local run=$out/broken
    installation=$run/Kestrel
    check "the updater ended with status 0" status_is "$run/updater.status" 0
    check "the broken 2.1 was installed and started" grep '^Kestrel 2\.1 ' "$installation/Kestrel.log"
    check "the watch found it gone" grep 'did not keep running' "$run/updater.err"
    check "Kestrel 1.0 put back byte for byte" cmp "$old_connection_manager" "$installation/Kestrel"
    check "the private data in Data/ kept" diff -r "$repo/examples/installation/Data" "$installation/Data"
    check "Kestrel 1.0 running again" grep '^Kestrel 1\.0 ' "$run/running"
    check "the history records the update as rolled back" last_result rolled-back
    check "the updater's work files removed" work_files_removed
}

print_history() {
    echo
    echo "Update history of the broken run (cmupdater --history):"
    "$out/broken/Kestrel/cmupdater" --history | sed 's/^/  /'
}

summarise() {
    echo
    if [ -n "$xvfb" ]; then
        echo "Screenshots: $shots"
    fi
    echo "Installations and logs: $out"
    if [ "$failures" -eq 0 ]; then
        echo "Demo passed: all $checks checks."
    else
        echo "Demo FAILED: $failures of $checks checks; see updater.err and sandbox.log in $out/*."
        exit 1
    fi
}

main() {
    parse_options "$@"
    [ -n "$build" ] || build_everything
    find_built_parts
    mkdir -p "$out"
    trap cleanup EXIT
    if [ "$headless" = no ] && display_usable; then
        interactive_update
        check_update
        broken_update
        check_broken
    else
        headless_update
        check_update
        broken_update
        check_broken
        local other
        for other in "${languages[@]}"; do
            [ "$other" = "$language" ] || tour "$other"
        done
    fi
    print_history
    summarise
}

main "$@"
