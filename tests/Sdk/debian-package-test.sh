#!/usr/bin/env bash
# The Debian package of the build under test: made with CPack as
# `make package` makes it, unpacked into a scratch root, and checked for
# where its files are (under /usr, as the README says), what the files that
# name installed paths say, and what it depends on.
#
# Usage: debian-package-test.sh BUILD_DIR LIBDIR
BUILD_DIR=$1 LIBDIR=$2
. "$(dirname "$0")/sdk-test-lib.sh"

for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed (make deps installs it)"; exit 77; }
done
make_scratch sdk-package

# CPack builds the tree before it installs unless the generator it is told
# needs no such step, as Ninja's does not: the test must not build (CTest
# runs the tests of the tree `make test` has built, some side by side).
cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$SCRATCH/out" \
  -D CPACK_CMAKE_GENERATOR=Ninja > "$SCRATCH/cpack.log" 2>&1 ||
  { cat "$SCRATCH/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$SCRATCH"/out/*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $SCRATCH/out"
DEB=${debs[0]}
ROOT=$SCRATCH/root
dpkg-deb -x "$DEB" "$ROOT"

L=usr/$LIBDIR
expect_file "$ROOT" \
  usr/bin/kefhost usr/bin/kef_requests usr/bin/tvan_logread usr/bin/tvan_reg usr/bin/tvan_report \
  "$L/libtvan.so" "$L/libkefcore.so" "$L/libtq_Database.so" "$L/libtq_AutoDelJobs.so" \
  "$L/libtq_StandardJobs.so" "$L/libtq_AutoDelService.so" \
  usr/include/kef/KEF/KEFCore/BaseService.h usr/include/kef/KEF/Jobs/StandardJobs/SendMsgJob.h \
  usr/include/kef/Base/XML/XmlDOM.h \
  "$L/cmake/kef/kefConfig.cmake" "$L/cmake/kef/kefTargets.cmake" "$L/pkgconfig/kef.pc" \
  usr/lib/systemd/system/kefhost.service usr/share/kef/examples/kefhost.service \
  usr/share/kef/examples/KEFConfiguration.xml usr/share/kef/examples/autodelete-service.xml \
  usr/share/kef/examples/hello-service/CMakeLists.txt usr/share/kef/examples/hello-service/hello-service.xml \
  usr/share/doc/kef/plugin.md

outside=$(cd "$ROOT" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "files outside /usr: $outside"

# The files that name installed paths name the package's, never a staging
# folder or the build tree.
unit=$ROOT/usr/lib/systemd/system/kefhost.service
exec_start="ExecStart=/usr/bin/kefhost run --plugin /$L/libtq_AutoDelService.so"
exec_start+=" --service-data /etc/kef/autodelete-service.xml"
grep -qxF "$exec_start" "$unit" || fail "the unit's ExecStart: $(grep ExecStart "$unit")"
pc=$ROOT/$L/pkgconfig/kef.pc
grep -qx 'prefix=/usr' "$pc" || fail "kef.pc: $(grep prefix= "$pc")"
if grep -rlF -e _CPack_Packages -e "$BUILD_DIR/" \
    "$ROOT/usr/lib/systemd" "$ROOT/usr/share/kef" "$ROOT/$L/pkgconfig" "$ROOT/$L/cmake"; then
  fail "the files above name a staging or build folder"
fi

depends=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $depends"
for library in libace libsqlite3 libstdc++6 libc6; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library"
done
echo "PASS: $(basename "$DEB") installs under /usr"
