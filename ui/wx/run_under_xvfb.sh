#!/bin/sh
# Runs a command under a private X server with a window manager, as the wxWidgets backend's
# tests and the end-to-end tests need: starts Xvfb on a display number it picks itself
# (-displayfd), gives it the keyboard map below, starts openbox on it and waits until openbox
# has finished starting, runs the command with DISPLAY pointing there and stops both again
# however the command ends. Exits with the command's status.
#
# Listing a test program's tests (--gtest_list_tests) needs no display and runs directly.
set -u

for arg in "$@"; do
  case "$arg" in --gtest_list_tests) exec "$@" ;; esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/run-under-xvfb.XXXXXX") || exit 1
xvfb_pid=""
wm_pid=""
command_pid=""
cleanup() {
  [ -n "$command_pid" ] && kill "$command_pid" 2>/dev/null && wait "$command_pid" 2>/dev/null
  exec 9>&-  # a start that failed still holds the lock
  if [ -n "$xvfb_pid" ]; then
    # Stopping takes the same lock as starting (see below).
    exec 8>"${TMPDIR:-/tmp}/run-under-xvfb.lock"
    flock 8
    stop_servers
    exec 8>&-
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "run_under_xvfb: $1" >&2
  for log in "$work"/*.log; do [ -s "$log" ] && cat "$log" >&2; done
  exit 1
}

# Waits up to two minutes for `condition` while process `pid` lives; false when it gave up.
wait_for() {
  pid=$1
  shift
  deadline=$(($(date +%s) + 120))
  until "$@"; do
    kill -0 "$pid" 2>/dev/null || return 1
    [ "$(date +%s)" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

# Starting and stopping servers are taken one at a time: a server started while another stops
# can pick the stopping one's display number and lose its socket when that one removes it, and
# two started at once can pick the same number. The lock is not inherited by the servers.
lock="${TMPDIR:-/tmp}/run-under-xvfb.lock"
exec 9>"$lock"
flock 9

# The number is whole once its line has ended: with two digits a reader could see only the first.
display_written() { [ -s "$work/display" ] && [ "$(wc -l <"$work/display")" -ge 1 ]; }
# openbox runs its start-up command once it has grabbed its keys and manages windows.
wm_ready() { [ -e "$work/openbox-ready" ]; }
stop_servers() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  wm_pid=""
  xvfb_pid=""
}

# The US layout plus the characters outside it that the tests type, on key codes that layout
# leaves empty. xdotool types a character missing from the map by binding it to a spare key
# code for a moment; a client that reads the key before it has fetched that new map sees
# another character or none. With every typed character in the map from the start, the map
# never changes while a test runs.
keyboard_map='xkb_keymap {
  xkb_keycodes { include "evdev+aliases(qwerty)" };
  xkb_types { include "complete" };
  xkb_compat { include "complete" };
  xkb_symbols {
    include "pc+us+inet(evdev)"
    key <AB11> { [ udiaeresis, Udiaeresis ] };
    key <JPCM> { [ EuroSign ] };
    key <AE13> { [ Greek_OMEGA ] };
  };
  xkb_geometry { include "pc(pc105)" };
};'

# Should a server still lose its display, the start is tried again with a fresh one.
for attempt in 1 2 3; do
  : >"$work/display"
  rm -f "$work/openbox-ready"
  # -noreset: the server keeps the keyboard map when its only client, xkbcomp, disconnects.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 9>&- &
  xvfb_pid=$!
  wait_for "$xvfb_pid" display_written || { stop_servers; continue; }
  DISPLAY=":$(head -n 1 "$work/display")"
  export DISPLAY
  unset WAYLAND_DISPLAY
  # Before openbox starts, so that it reads the map once and grabs its keys on it.
  echo "$keyboard_map" | xkbcomp -w 0 - "$DISPLAY" >"$work/xkbcomp.log" 2>&1 ||
    { stop_servers; continue; }
  # openbox with its default configuration, whatever the user's own says.
  XDG_CONFIG_HOME="$work" XDG_CACHE_HOME="$work" openbox --sm-disable \
    --startup "touch '$work/openbox-ready'" >"$work/openbox.log" 2>&1 9>&- &
  wm_pid=$!
  wait_for "$wm_pid" wm_ready && break
  stop_servers
done
[ -n "$wm_pid" ] || fail "Xvfb with openbox did not start (waited for the display number, the keyboard map and openbox's start-up command)"
flock -u 9
exec 9>&-

# No accessibility bus in a private session. The command runs in the background so that a
# signal to this script (a test timeout) interrupts the wait and the traps clean up.
NO_AT_BRIDGE=1 GDK_BACKEND=x11 "$@" &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=""
exit "$status"
