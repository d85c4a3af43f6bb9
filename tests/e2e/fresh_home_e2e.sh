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
e2e_window "Prepaid Guthabenabfrage"
main=$window
opened=$(geometry "$main")
# Until the window manager activates a new window, the program takes a move for the window
# manager's placement and puts the window back where it belongs (once). A query answered
# shows that the program has handled the activation: the keys came after it.
xdotool type --delay 40 "100"
xdotool key Return
e2e_window "Kartennummer 00100"
xdotool key Return
x_gone "Kartennummer 00100"
xdotool windowmove --sync "$main" 97 143
moved=$(geometry "$main")
[ "$moved" != "$opened" ] || fail "the window did not move from $opened"
e2e_shot fresh-home-moved
x_activate "$main"
xdotool key alt+F4
e2e_wait_exit

[ -f "$config/win.ini" ] || fail "no win.ini in $config: $(ls -la "$HOME" "$HOME/.config" 2>&1)"
for folder in "$HOME/.config" "$config"; do
  [ "$(stat -c %a "$folder")" = 700 ] || fail "$folder has mode $(stat -c %a "$folder")"
done
stored=$(e2e_placement)
echo "$stored" | grep -Eq '^-?[0-9]+,-?[0-9]+,[0-9]+,[0-9]+$' || fail "placement \"$stored\""

e2e_start quillet
e2e_window "Prepaid Guthabenabfrage"
main=$window
# The window manager may place the window elsewhere first; the program moves it back.
reopened() { [ "$(geometry "$main")" = "$moved" ]; }
x_wait reopened || fail "closed at $moved (stored $stored), opened at $(geometry "$main")"
xdotool key alt+F4
e2e_wait_exit
[ "$(e2e_placement)" = "$stored" ] || fail "placement moved: $stored -> $(e2e_placement)"
echo "fresh home end to end: ok ($stored)"
