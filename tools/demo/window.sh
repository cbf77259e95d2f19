# shellcheck shell=bash
# Drives the updater's real window through the X server, as a user would:
# clicks at the widgets' places, keys for the message boxes, screenshots.
# Sourced by tools/demo.sh.

# The dialog is laid out as 430x345 at the default font; these are the centres of its 80x30
# buttons, and of the check boxes of the package table at (10,10): a header,
# then one 30 px row per package (software, firmware) with the check boxes in
# the first column, 15 px wide.
# shellcheck disable=SC2034 # used by the scripts that source this one
readonly layout_width=430
readonly next_button=(215 305)   # noticeNext
readonly update_button=(215 305) # selectUpdate
readonly cancel_button=(335 305) # noticeCancel, selectCancel
readonly software_box=(18 44)
readonly firmware_box=(18 74)

# updater_windows: the updater's windows on screen, the dialog and any message box.
updater_windows() {
    xdotool search --onlyvisible --classname '^cmupdater$' 2> /dev/null || true
}

# await_window SECONDS [EXCEPT]: prints the first updater window other than EXCEPT.
await_window() {
    local deadline=$((SECONDS + $1)) except=${2:-} window
    while [ "$SECONDS" -lt "$deadline" ]; do
        for window in $(updater_windows); do
            if [ "$window" != "$except" ]; then
                echo "$window"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}

# click WINDOW X Y: X and Y are places in the layout, which a window grown
# for a longer translation or a larger font scales by its width.
click() {
    local width
    width=$(xdotool getwindowgeometry --shell "$1" | sed -n 's/^WIDTH=//p')
    xdotool mousemove --window "$1" $(($2 * width / layout_width)) $(($3 * width / layout_width)) click 1
    sleep 0.3
}

# answer BOX KEY: presses KEY in a message box, Return for its default answer.
answer() {
    xdotool windowfocus --sync "$1" key "$2"
}

# position WINDOW: its place on screen, as "X Y".
position() {
    xdotool getwindowgeometry --shell "$1" | sed -n 's/^[XY]=//p' | paste -s -d ' '
}

# screenshot WINDOW FILE.png [BOX]: the window as on screen, with the message
# box BOX over it. Under Xvfb a grab of the window or of the screen shows the
# box black, so the box is grabbed on its own and laid over the window.
screenshot() {
    local window=$1 file=$2 box=${3:-}
    if [ -z "$box" ]; then
        xwd -silent -id "$window" | convert xwd:- "$file"
        return
    fi
    local window_x window_y box_x box_y
    read -r window_x window_y < <(position "$window")
    read -r box_x box_y < <(position "$box")
    xwd -silent -id "$window" -out "$file.xwd"
    xwd -silent -id "$box" -out "$file.box.xwd"
    convert "xwd:$file.xwd" "xwd:$file.box.xwd" \
        -geometry "+$((box_x - window_x))+$((box_y - window_y))" -composite "$file"
    rm -f "$file.xwd" "$file.box.xwd"
}

# last_screenshot WINDOW FILE.png SECONDS: the dialog closes the moment the
# update ends, so it is grabbed over and over, into two files by turns; the
# last grab before it is gone shows its final state.
last_screenshot() {
    local window=$1 file=$2 deadline=$((SECONDS + $3)) frames turn=0 grabbed=1
    frames=$(mktemp -d)
    while [ "$SECONDS" -lt "$deadline" ]; do
        if ! xwd -silent -id "$window" -out "$frames/$turn" 2> /dev/null; then
            turn=$((1 - turn))
            if [ -s "$frames/$turn" ] && convert "xwd:$frames/$turn" "$file"; then
                grabbed=0
            fi
            break
        fi
        turn=$((1 - turn))
    done
    rm -rf "$frames"
    return "$grabbed"
}
