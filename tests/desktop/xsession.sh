# Sourced by the window tests run under Xvfb: what every shell test has, and
# a display of their own.

source "$(dirname "${BASH_SOURCE[0]}")/../support/scripting.sh"

# Starts Xvfb on the first free display number from $1 to $2 and exports DISPLAY.
start_xvfb() {
  local display="" n
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || fail "no free X display number"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for ((i = 0; i < 50; i++)); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && return 0
    sleep 0.1
  done
  fail "Xvfb did not start"
}
