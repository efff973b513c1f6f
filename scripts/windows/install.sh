#!/usr/bin/env bash
# What the Windows build needs on a Debian 12 machine: the cross compilers,
# Wine, NSIS and the host's own Qt tools; and the Debian source packages it
# cross-builds, fetched once into SRC_DIR. Usage: install.sh SRC_DIR
set -euo pipefail
src_dir=$1
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Source packages come from the same Debian archive as the binary ones.
list=/etc/apt/sources.list.d/parvault2-deb-src.sources
if [ ! -f "$list" ]; then
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  uri=${uri:-http://deb.debian.org/debian}
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" | $SUDO tee "$list" >/dev/null
fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config dpkg-dev tcl \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev \
  qt6-base-dev qt6-base-dev-tools libsqlite3-dev sqlite3 \
  wine wine64 nsis zip xvfb xauth x11-utils imagemagick fonts-dejavu-core
mkdir -p "$src_dir"
cd "$src_dir"
for pkg in qt6-base sqlite3 googletest; do
  ls "${pkg}"_*.dsc >/dev/null 2>&1 || apt-get source --download-only "$pkg"
done
# The Jet reader needs libmdb's source; without it the build goes on without the reader.
ls mdbtools_*.orig.tar.* >/dev/null 2>&1 || apt-get source --download-only mdbtools ||
  echo "windows build: mdbtools' source could not be fetched; the Jet reader is left out" >&2
