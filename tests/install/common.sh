# Sourced by the install tests: a work directory removed at the end, the
# processes to stop, and an install of the build into a prefix.

source "$(dirname "${BASH_SOURCE[0]}")/../support/scripting.sh"

# Installs the build folder $1 under the prefix $2.
install_into() {
  cmake --install "$1" --prefix "$2" >"$dir/install.out" 2>&1 || fail "cmake --install: $(cat "$dir/install.out")"
}

# Fails unless the text $1 holds the line $2.
expect_line() {
  grep -qxF -- "$2" <<<"$1" || fail "no line '$2' in:
$1"
}
