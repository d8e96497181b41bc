# Shared by the SDK tests: a scratch folder removed at exit, and the
# project installed into it.

set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# make_scratch NAME: sets SCRATCH to a new folder, removed when the test ends.
make_scratch() {
  SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/kef-$1.XXXXXX")
  trap 'rm -rf "$SCRATCH"' EXIT
}

# install_project BUILD_DIR PREFIX: what `make install` does, into PREFIX.
install_project() {
  cmake --install "$1" --prefix "$2" > "$SCRATCH/install.log" 2>&1 ||
    { cat "$SCRATCH/install.log" >&2; fail "cmake --install $1 --prefix $2"; }
}

# expect_file ROOT PATH...: each PATH exists below ROOT.
expect_file() {
  local root=$1
  shift
  local path
  for path in "$@"; do
    [ -e "$root/$path" ] || fail "missing: $path"
  done
}
