#!/bin/sh
# quillet on a fresh account: a home directory that holds nothing, no LINDAVOX_CONFIG_DIR, no
# XDG_CONFIG_HOME. The window is moved and closed, which must create ~/.config/lindavox/win.ini
# with that placement; started again, the window opens where it was closed.
#   fresh_home_e2e.sh QUILLET MAKE_DEMO SCREENSHOT_DIR
. "$(dirname "$0")/session.sh"
e2e_setup "$1" "$2" "$3"
unset LINDAVOX_CONFIG_DIR XDG_CONFIG_HOME
HOME="$work/home"
export HOME
mkdir "$HOME"
config="$HOME/.config/lindavox"

# The window's position and size as "x y width height".
geometry() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}'
}

e2e_start quillet
main=$(e2e_window "Prepaid Guthabenabfrage")
opened=$(geometry "$main")
# For a moment after a window appears, the program takes a move for the window manager's
# placement and puts the window back where it belongs (once): move it until it stays.
tries=0
while :; do
  xdotool windowmove --sync "$main" 97 143
  moved=$(geometry "$main")
  sleep 0.5
  [ "$(geometry "$main")" = "$moved" ] && break
  tries=$((tries + 1))
  [ "$tries" -gt 20 ] && fail "the window does not stay where it is moved"
done
[ "$moved" != "$opened" ] || fail "the window did not move from $opened"
e2e_shot fresh-home-moved
xdotool windowactivate --sync "$main" key alt+F4
e2e_wait_exit

[ -f "$config/win.ini" ] || fail "no win.ini in $config: $(ls -la "$HOME" "$HOME/.config" 2>&1)"
for folder in "$HOME/.config" "$config"; do
  [ "$(stat -c %a "$folder")" = 700 ] || fail "$folder has mode $(stat -c %a "$folder")"
done
stored=$(e2e_placement)
echo "$stored" | grep -Eq '^-?[0-9]+,-?[0-9]+,[0-9]+,[0-9]+$' || fail "placement \"$stored\""

e2e_start quillet
main=$(e2e_window "Prepaid Guthabenabfrage")
# The window manager may place the window elsewhere first; the program moves it back.
tries=0
until [ "$(geometry "$main")" = "$moved" ]; do
  tries=$((tries + 1))
  [ "$tries" -gt 60 ] && break
  sleep 0.05
done
reopened=$(geometry "$main")
[ "$reopened" = "$moved" ] || fail "closed at $moved (stored $stored), opened at $reopened"
xdotool windowactivate --sync "$main" key alt+F4
e2e_wait_exit
[ "$(e2e_placement)" = "$stored" ] || fail "placement moved: $stored -> $(e2e_placement)"
echo "fresh home end to end: ok ($stored)"
