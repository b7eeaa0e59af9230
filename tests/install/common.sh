# Sourced by the install tests: a work directory removed at the end, the
# processes to stop, and an install of the build into a prefix.

fail() { echo "FAIL: $*"; exit 1; }

dir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# Installs the build folder $1 under the prefix $2.
install_into() {
  cmake --install "$1" --prefix "$2" >"$dir/install.out" 2>&1 || fail "cmake --install: $(cat "$dir/install.out")"
}

# Waits up to $1 tenths of a second for the command to succeed.
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Fails unless the text $1 holds the line $2.
expect_line() {
  grep -qxF -- "$2" <<<"$1" || fail "no line '$2' in:
$1"
}
