#!/bin/bash
# Every room of the updater stands on a floor and includes only rooms below
# it. Prints each include that breaks this and ends with status 1 when there
# is one, and so does a widget header outside the two rooms of the window.
#   check-floors.sh SOURCE_DIR WIDGETS_INCLUDE_DIR...
# (the Qt Widgets target's include directories; the one named QtWidgets counts)
set -euo pipefail
cd "$1"
shift
widgets=""
for dir in "$@"; do
    [[ "$dir" == */QtWidgets ]] && widgets="$dir"
done
[ -d "$widgets" ] || { echo "no QtWidgets include directory among: $*"; exit 2; }

declare -A floor=(
    [base]=0 [packages]=1 [history]=1 [trust]=2 [delta]=2 [software]=3
    [firmware]=4 [agent]=5 [session]=6 [wizard]=7 [app]=8
)

status=0
for room in "${!floor[@]}"; do
    [ -d "$room" ] || continue
    while IFS=: read -r file _ line; do
        target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$line")
        [ -n "${floor[$target]+x}" ] && [ "$target" != "$room" ] || continue
        if ((floor[$target] < floor[$room])); then
            continue
        fi
        echo "$file: $room (floor ${floor[$room]}) includes $target (floor ${floor[$target]})"
        status=1
    done < <(grep -rnE '^#include "[a-z]+/' --include='*.cpp' --include='*.h' "$room" || true)
done

# The widget headers, by the names Qt installs them under.
pattern="#include <(QtWidgets/)?($(cd "$widgets" && ls | grep -E '^Q[A-Za-z]+$' | paste -sd '|'))>"
for room in "${!floor[@]}"; do
    [ "$room" = wizard ] || [ "$room" = app ] || [ ! -d "$room" ] && continue
    if grep -rnE "$pattern" --include='*.cpp' --include='*.h' "$room"; then
        echo "$room: a widget header outside wizard/ and app/ (above)"
        status=1
    fi
done
exit $status
