# Shell functions for scripts that drive programs under run_under_xvfb.sh with xdotool, sourced
# by them. Each waits for the state the next step needs (at most $x_patience seconds) and,
# when it gives up, calls the script's own `fail MESSAGE` saying what it waited for. Nothing
# sleeps a fixed time: a loaded machine only makes the waits longer.
#   x_wait COMMAND...              runs COMMAND until it succeeds; false when it gave up
#   x_until WHAT COMMAND...        the same, failing with WHAT when it gives up
#   x_window TITLE                 waits for a visible window titled exactly TITLE ($window)
#   x_gone TITLE                   waits until no such window is visible
#   x_activate WINDOW              makes WINDOW the active window, the one keys go to
#   x_serve TEXT SELECTION PASTES  serves TEXT as the selection (clipboard or primary) for
#                                  PASTES pastes, once it is served
#   x_served                       waits until those pastes have had their answer
#   x_screenshot FILE              saves the screen once two pictures in a row are the same
x_patience=${x_patience:-120}

x_wait() {
  x_deadline=$(($(date +%s) + x_patience))
  until "$@"; do
    [ "$(date +%s)" -ge "$x_deadline" ] && return 1
    sleep 0.05
  done
}
x_until() {
  x_what=$1
  shift
  x_wait "$@" || fail "waited $x_patience s for $x_what"
}

# Searching walks the window tree, which may change under the search (a window going away makes
# xdotool fail): it is simply tried again.
x_find() {
  window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$window" ]
}
x_window() { x_until "a window \"$1\"" x_find "$1"; }
x_missing() { ! x_find "$1"; }
x_gone() { x_until "the window \"$1\" to go" x_missing "$1"; }

# The window manager may still be mapping the window when it is asked first: asked again
# until it has done it.
x_is_active() {
  xdotool windowactivate "$1" 2>/dev/null
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]
}
x_activate() { x_until "window $1 to be active" x_is_active "$1"; }

# xclip takes the selection and then serves it from a process of its own; a paste before it
# has taken it would fetch the previous owner's text. It ends after PASTES requests and the one
# of the check, so its end says that the program has its answer to every paste.
x_serve() {
  printf %s "$1" | xclip -quiet -loops $(($3 + 1)) -selection "$2" 2>/dev/null &
  x_selection_server=$!
  x_selection_text=$1
  x_selection=$2
  x_until "xclip to serve \"$1\" as $2" x_serving
}
x_serving() { [ "$(xclip -o -selection "$x_selection" 2>/dev/null)" = "$x_selection_text" ]; }
x_server_ended() { ! kill -0 "$x_selection_server" 2>/dev/null; }
x_served() {
  x_until "the pastes of \"$x_selection_text\"" x_server_ended
  wait "$x_selection_server"
}

# A picture taken while a window is still being drawn differs from the next one.
x_screen_steady() {
  import -window root -depth 8 "rgb:$x_shot.new" || return 1
  cmp -s "$x_shot.new" "$x_shot.raw" && return 0
  mv "$x_shot.new" "$x_shot.raw"
  return 1
}
x_screenshot() {
  x_shot=$1
  rm -f "$x_shot.raw"
  x_until "the screen to stop changing for $1" x_screen_steady
  geometry=$(xdotool getdisplaygeometry | tr ' ' x)
  convert -size "$geometry" -depth 8 "rgb:$x_shot.raw" "$1" || fail "screenshot $1"
  rm -f "$x_shot.raw" "$x_shot.new"
}
