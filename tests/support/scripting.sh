# Sourced by the shell tests: fail, a work directory removed at the end, the
# processes to stop then, and a wait for a command to succeed.

fail() { echo "FAIL: $*"; exit 1; }

dir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# Waits up to $1 tenths of a second for the command to succeed.
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
