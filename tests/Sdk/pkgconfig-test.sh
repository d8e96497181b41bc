#!/usr/bin/env bash
# A program built without CMake, from the installed kef.pc alone: it must
# compile, link against the installed libraries and run.
#
# Usage: pkgconfig-test.sh BUILD_DIR LIBDIR CXX_FLAGS LINK_FLAGS
BUILD_DIR=$1 LIBDIR=$2 CXX_FLAGS=$3 LINK_FLAGS=$4
. "$(dirname "$0")/sdk-test-lib.sh"

command -v pkg-config > /dev/null || { echo "pkg-config is not installed"; exit 77; }
make_scratch sdk-pkgconfig
PREFIX=$SCRATCH/prefix
install_project "$BUILD_DIR" "$PREFIX"

export PKG_CONFIG_PATH=$PREFIX/$LIBDIR/pkgconfig
flags=$(pkg-config --cflags --libs kef) || fail "pkg-config does not know kef"
# shellcheck disable=SC2086  # the flags are words
g++ -std=c++17 -Wall -Wextra -Werror $CXX_FLAGS -o "$SCRATCH/consumer" "$(dirname "$0")/PkgConfigConsumer.cpp" \
  $LINK_FLAGS $flags || fail "building with: $flags"
out=$(LD_LIBRARY_PATH=$PREFIX/$LIBDIR KEF_REQUEST_DATABASE=$SCRATCH/requests.db "$SCRATCH/consumer") ||
  fail "the program failed"
[ "$out" = "HELLO START_TRIGGER $SCRATCH/requests.db" ] || fail "unexpected output: $out"
echo "PASS: built and ran a program from kef.pc"
