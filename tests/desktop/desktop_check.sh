#!/bin/bash
# Drives the program on a virtual X display as a person would, with xdotool.
# Usage: desktop_check.sh FERROWALK ASSETGEN CLOSE_WINDOW
set -u
ferrowalk=$1 assetgen=$2 close_window=$3

for tool in Xvfb xdotool import compare; do
    command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid='' app_pid=''
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2> /dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

# A display number nobody uses.
display=$((90 + $$ % 100))
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
unset SDL_VIDEODRIVER WAYLAND_DISPLAY
for _ in $(seq 100); do xdotool getmouselocation > /dev/null 2>&1 && break; sleep 0.1; done
xdotool getmouselocation > /dev/null 2>&1 || fail "Xvfb did not start"

"$assetgen" "$work/data" > /dev/null || fail "assetgen"
"$ferrowalk" --data "$work/data" > "$work/out.log" 2> "$work/err.log" &
app_pid=$!

window=''
for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name '^Ferrowalk$' 2> /dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$app_pid" 2> /dev/null || fail "the program ended at start: $(cat "$work/err.log")"
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled Ferrowalk appeared"
geometry=$(xdotool getwindowgeometry "$window" | grep Geometry)
echo "window $window, $geometry"
[[ "$geometry" == *800x600* ]] || fail "the window is not 800 x 600: $geometry"
xdotool windowfocus --sync "$window" 2> /dev/null || xdotool windowfocus "$window"
sleep 2

shot() { import -window "$window" "$work/$1.png"; }
# How much a corner of the picture, where only terrain shows, changed between two shots.
corner_change() {
    compare -metric RMSE -extract 300x350+0+250 "$work/$1.png" "$work/$2.png" null: 2>&1 |
        sed -n 's/.*(\(.*\)).*/\1/p'
}
changed() { awk -v d="$1" 'BEGIN { exit !(d > 0.02) }'; }

shot still1; sleep 1; shot still2
steady=$(corner_change still1 still2)
echo "camera at rest: corner change $steady"
changed "$steady" && fail "the view moves without input"

# Moving the mouse without a button turns nothing.
xdotool mousemove --window "$window" 200 300
for _ in $(seq 10); do xdotool mousemove_relative -- 15 0; sleep 0.05; done
sleep 0.5; shot hover
hover=$(corner_change still2 hover)
echo "plain mouse motion: corner change $hover"
changed "$hover" && fail "mouse motion without the right button moved the camera"

# Right-button drag: the camera orbits the hero.
xdotool mousemove --window "$window" 200 300
sleep 0.5; shot hover
xdotool mousedown 3
for _ in $(seq 20); do xdotool mousemove_relative -- 15 0; sleep 0.05; done
xdotool mouseup 3
sleep 0.5; shot orbited
orbit=$(corner_change hover orbited)
echo "right-button drag: corner change $orbit"
changed "$orbit" || fail "a right-button drag did not orbit the camera"

# Wheel clicks towards the user zoom in; the pointer stays over the window.
xdotool mousemove --window "$window" 400 300
sleep 0.5; shot before_zoom
xdotool click --repeat 8 --delay 50 5
sleep 0.5; shot zoomed
zoom=$(corner_change before_zoom zoomed)
echo "wheel: corner change $zoom"
changed "$zoom" || fail "wheel clicks did not zoom"

# Closing the window ends the program with exit code 0.
"$close_window" "$window" || fail "could not ask the window to close"
for _ in $(seq 200); do kill -0 "$app_pid" 2> /dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2> /dev/null && fail "the program did not end after its window was closed"
wait "$app_pid"
status=$?
app_pid=''
echo "exit code $status"
[ "$status" -eq 0 ] || fail "exit code $status; $(tail -n 20 "$work/err.log")"
grep -q "Max memory used" "$work/err.log" || fail "no memory report at exit"
echo "passed"
