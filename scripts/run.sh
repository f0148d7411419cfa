#!/usr/bin/env bash
# Builds the setup and the sample game beside it, and starts the setup under Wine.
# With a display (DISPLAY set and reachable) the window opens there and the script waits for it.
# Without one it runs on a virtual display of its own, saves screenshots of the setup and of the
# game it launches, prints their paths, and closes both.
set -eu
source "$(dirname "$0")/common.sh"

install_packages
build --target setup game
wine_here_or_in_rig "$0" "$@"
ensure_prefix

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    log "starting build/setup.exe on $DISPLAY"
    exec wine "$BUILD/setup.exe"
fi

SHOTS=${SHOTS:-$BUILD/screenshots}
mkdir -p "$SHOTS"
start_display
trap 'stop_wine; stop_display' EXIT
start_wine

find_window() {
    local id=""
    for _ in $(seq 100); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

log "starting build/setup.exe on the virtual display $DISPLAY"
cd "$BUILD"
wine setup.exe </dev/null >/dev/null 2>&1 &
setup=$(find_window "Quorvane Setup") || { log "the setup window did not appear"; exit 1; }
sleep 0.5
import -window "$setup" "$SHOTS/setup.png"
echo "screenshot of the setup: $SHOTS/setup.png"

# Press Launch Game: the button's centre, counted from the window's frame (3-pixel border,
# caption and menu bar above the 280-pixel client area).
read -r width height < <(xwininfo -id "$setup" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
xdotool mousemove --window "$setup" $((width / 2)) $((height - 3 - 34 + 12)) click 1
if game=$(find_window "Quorvane"); then
    sleep 0.5
    import -window "$game" "$SHOTS/game.png"
    echo "screenshot of the game it launched: $SHOTS/game.png"
    xdotool key --window "$game" alt+F4 2>/dev/null || true
fi
