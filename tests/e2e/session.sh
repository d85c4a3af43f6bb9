# Shared pieces of the end-to-end tests, sourced by them. They run under ui/wx/run_under_xvfb.sh,
# so DISPLAY points at a private X server with openbox; the waits come from ui/wx/x_wait.sh.
#   e2e_setup PROGRAM MAKE_DEMO SHOTS  makes $data (demo card store with a link to PROGRAM),
#                                      $config (user profile) and $trace (message boxes)
#   e2e_start NAME                     starts $data/NAME in the background ($pid)
#   e2e_window TITLE                   waits for a visible window titled exactly TITLE and
#                                      makes it the active one ($window)
#   e2e_shot NAME                      saves the screen as SHOTS/NAME.png
#   e2e_wait_exit                      waits for the program and checks its exit code 0
set -u
. "$(dirname "$0")/../../ui/wx/x_wait.sh"

fail() {
  echo "FAILED: $*" >&2
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  exit 1
}

e2e_setup() {
  program=$1
  make_demo=$2
  shots=$3
  work=$(mktemp -d "${TMPDIR:-/tmp}/lindavox-e2e.XXXXXX") || exit 1
  trap 'rm -rf "$work"' EXIT
  data="$work/data/"
  config="$work/config"
  trace="$work/boxes.txt"
  mkdir -p "$config" "$shots"
  "$make_demo" "$data" >/dev/null || fail "demo card store"
  ln -s "$program" "$data$(basename "$program")"
  export LINDAVOX_CONFIG_DIR="$config" LINDAVOX_MESSAGEBOX_TRACE="$trace"
  : >"$trace"
}

e2e_start() {
  "$data$1" &
  pid=$!
}

# Keys go to the active window, so every window the test types into is made active first.
e2e_window() {
  x_window "$1"
  x_activate "$window"
}

e2e_shot() { x_screenshot "$shots/$1.png"; }

e2e_ended() { ! kill -0 "$pid" 2>/dev/null; }
e2e_wait_exit() {
  x_until "the program to end" e2e_ended
  wait "$pid"
  status=$?
  pid=""
  [ "$status" -eq 0 ] || fail "exit code $status"
}

# The stored placement of both programs.
e2e_placement() {
  sed -n 's/^quillet_pos=//p' "$config/win.ini" | tr -d '\r'
}
