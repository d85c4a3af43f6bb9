# Shared pieces of the end-to-end tests, sourced by them. They run under ui/wx/run_under_xvfb.sh,
# so DISPLAY points at a private X server with openbox.
#   e2e_setup PROGRAM MAKE_DEMO SHOTS  makes $data (demo card store with a link to PROGRAM),
#                                      $config (user profile) and $trace (message boxes)
#   e2e_start NAME                     starts $data/NAME in the background ($pid)
#   e2e_window TITLE                   waits for a visible window titled exactly TITLE
#   e2e_gone TITLE                     waits until no such window is visible
#   e2e_shot NAME                      saves the screen as SHOTS/NAME.png
#   e2e_wait_exit                      waits for the program and checks its exit code 0
set -u

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

e2e_window() {
  # Searching walks the window tree, which may change under the search (a window going away
  # makes xdotool fail): search again until it finds the window or 20 seconds have passed.
  tries=0
  while :; do
    window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    tries=$((tries + 1))
    [ "$tries" -gt 400 ] && fail "no window \"$1\""
    sleep 0.05
  done
  echo "$window"
}

e2e_gone() {
  tries=0
  while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -gt 200 ] && fail "window \"$1\" stays"
    sleep 0.05
  done
}

e2e_shot() {
  sleep 0.3  # let the window paint
  import -window root "$shots/$1.png" || fail "screenshot $1"
}

e2e_wait_exit() {
  tries=0
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -gt 200 ] && fail "the program does not end"
    sleep 0.05
  done
  wait "$pid"
  status=$?
  [ "$status" -eq 0 ] || fail "exit code $status"
}

# The stored placement of both programs.
e2e_placement() {
  sed -n 's/^quillet_pos=//p' "$config/win.ini" | tr -d '\r'
}
