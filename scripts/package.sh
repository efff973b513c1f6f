#!/usr/bin/env bash
# Builds the Debian package parvault2_VERSION_ARCH.deb: installs what it
# needs, builds only what goes into the package (target package-files: the
# programs, the launcher, the demo data, icons and manual pages; no test
# programs) in build/ (or $BUILD_DIR), runs cpack, and checks the result with
# lintian, which must report no errors.
#   PACKAGE_DIR   where the .deb goes (default: the build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
BUILD_TARGETS=package-files bash scripts/build.sh
PACKAGE_DIR=$(realpath -m "${PACKAGE_DIR:-$BUILD_DIR}")
rm -f "$PACKAGE_DIR"/parvault2_*.deb
cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$PACKAGE_DIR"
deb=$(ls "$PACKAGE_DIR"/parvault2_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb"
# Errors make this script fail; warnings and notes are printed (README lists
# the ones that stay and why).
lintian --fail-on error --display-info "$deb"
echo "lintian: no errors"
