#!/usr/bin/env bash
# The example plug-in as a plug-in author builds and runs it: the project
# installed into a scratch prefix, examples/hello-service configured with
# that prefix alone, built, and run by the installed kefhost to its terminal
# state; its greeting must then be in the installed kef_requests' view of the
# request database and its entry in the log.
#
# Usage: example-plugin-test.sh BUILD_DIR SOURCE_DIR LIBDIR CXX_FLAGS LINK_FLAGS
# (LIBDIR: the libraries' folder below the prefix; the flags are those of the
# build under test, so that the plug-in is sanitized like the host).
BUILD_DIR=$1 SOURCE_DIR=$2 LIBDIR=$3 CXX_FLAGS=$4 LINK_FLAGS=$5
. "$(dirname "$0")/sdk-test-lib.sh"

make_scratch sdk-example
PREFIX=$SCRATCH/prefix
install_project "$BUILD_DIR" "$PREFIX"

# A consumer of the installed tree must never be pointed back at this
# source or build tree: it would build here, and nowhere else.
if grep -rlF -e "$SOURCE_DIR/src" -e "$BUILD_DIR/" "$PREFIX/$LIBDIR/cmake" "$PREFIX/$LIBDIR/pkgconfig"; then
  fail "the installed package files above name the source or build tree"
fi

cmake -S "$(dirname "$0")/exported-targets" -B "$SCRATCH/targets" -DCMAKE_PREFIX_PATH="$PREFIX" \
  > "$SCRATCH/targets.log" 2>&1 ||
  { cat "$SCRATCH/targets.log" >&2; fail "the exported targets, as find_package(kef) provides them"; }

# -Werror: the installed headers must compile cleanly in a consumer's build.
EXAMPLE_BUILD=$SCRATCH/build
cmake -S "$SOURCE_DIR/examples/hello-service" -B "$EXAMPLE_BUILD" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_PREFIX_PATH="$PREFIX" -DCMAKE_CXX_FLAGS="$CXX_FLAGS -Werror" \
  -DCMAKE_MODULE_LINKER_FLAGS="$LINK_FLAGS" > "$SCRATCH/example.log" 2>&1 &&
  cmake --build "$EXAMPLE_BUILD" -j 2 >> "$SCRATCH/example.log" 2>&1 ||
  { cat "$SCRATCH/example.log" >&2; fail "building examples/hello-service against $PREFIX"; }
PLUGIN=$EXAMPLE_BUILD/libhello_service.so
[ -f "$PLUGIN" ] || fail "no $PLUGIN"

# Everything the framework reads and writes stays in the scratch folder.
export KEF_CONFIGURATION=$SCRATCH/config
export KEF_REQUEST_DATABASE=$SCRATCH/requests.db
export TVAN_REGISTRY_FILE=$SCRATCH/registry
export TMPDIR=$SCRATCH
export LD_LIBRARY_PATH=$PREFIX/$LIBDIR
mkdir -p "$KEF_CONFIGURATION"
cat > "$KEF_CONFIGURATION/KEFConfiguration.xml" <<XML
<KEFPrefs>
  <SupportedServices><HELLO ENABLED="1" timeOut="20"/></SupportedServices>
  <StatFile>$SCRATCH/statistics.txt</StatFile>
  <Log><LogFile>$SCRATCH/kef.log</LogFile><LevelMask>0x0317</LevelMask><LocationMask>0x1</LocationMask></Log>
</KEFPrefs>
XML

# The workflow ends by itself; --for only bounds a hang.
status=0
(cd "$SCRATCH" && "$PREFIX/bin/kefhost" run --plugin "$PLUGIN" \
  --service-data "$SOURCE_DIR/examples/hello-service/hello-service.xml" --for 30) \
  > "$SCRATCH/host.out" 2> "$SCRATCH/host.err" || status=$?
cat "$SCRATCH/host.out"
[ "$status" = 0 ] || { cat "$SCRATCH/host.err" >&2; fail "kefhost exited with status $status"; }
grep -qx 'HELLO\[1\] RUNNING: Hello, KEF developer' "$SCRATCH/host.out" || fail "no greeting from the host"
grep -qx 'HELLO\[1\] DONE: OK' "$SCRATCH/host.out" || fail "no closing report from the host"

"$PREFIX/bin/kef_requests" messages --service HELLO > "$SCRATCH/messages.txt" ||
  fail "kef_requests found no message of HELLO"
grep -q 'Hello, KEF developer' "$SCRATCH/messages.txt" || fail "kef_requests does not show the greeting"

"$PREFIX/bin/tvan_logread" -c HELLO "$SCRATCH/kef.log" > "$SCRATCH/log.txt" || fail "tvan_logread failed"
grep -q 'Greeting KEF developer' "$SCRATCH/log.txt" || fail "the job's log entry is missing"
echo "PASS: the example plug-in ran to its terminal state against the installed tree"
