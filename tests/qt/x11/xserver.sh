# Sourced by the end-to-end scripts: checks the programs they drive, makes $work, starts Xvfb
# at the size given and points the environment at it. The script sets $shots and defines
# fail() (which may read $work) before it calls x_start; x_client_pid names the program under
# test so that it is stopped with the server.
#   x_require PROGRAM...   exit 77 (a skip) when one is missing; under QUILLO_REQUIRE_PEERS=1
#                          (CI) exit 1 instead
#   x_start WIDTHxHEIGHT   the server, $DISPLAY, Qt on xcb, xdotool with a time limit
x_require() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null && continue
    echo "skipped: $t is not installed"
    [ "${QUILLO_REQUIRE_PEERS:-}" = 1 ] && exit 1
    exit 77
  done
}

work=$(mktemp -d)
x_server_pid=""
x_client_pid=""
x_cleanup() {
  [ -n "$x_client_pid" ] && kill "$x_client_pid" 2>/dev/null
  [ -n "$x_server_pid" ] && kill "$x_server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap x_cleanup EXIT

x_start() {
  # A display number the server picks itself, so that parallel runs never collide.
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
  x_server_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(cat "$work/display")"
  export QT_QPA_PLATFORM=xcb
  export XDG_RUNTIME_DIR="$work"
  chmod 700 "$work"
  # The X keyboard library copies its keymap names with strndup from buffers shorter than the
  # length it passes, which the sanitizers' strndup check reports; our own code is still
  # checked.
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
  # No step may hang the test: each X client gets a time limit.
  xdotool_bin=$(command -v xdotool)
  xdotool() { timeout 30 "$xdotool_bin" "$@"; }
}
