#!/usr/bin/env bash
# Cross-builds SQLite from Debian's source package into PREFIX (a static
# library and its header). Usage: sqlite.sh SRC_TARBALL PREFIX
set -euo pipefail
tarball=$1 prefix=$2
[ -f "$prefix/.done" ] && exit 0
work=$prefix.build
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include" "$prefix/lib"
tar -xJf "$tarball" -C "$work"
src=$(echo "$work"/sqlite3-*)
# The one-file form is generated on the build machine (it needs tclsh), then compiled for Windows.
(cd "$src" && ./configure --quiet >/dev/null && make -s sqlite3.c >/dev/null)
x86_64-w64-mingw32-gcc-posix -O2 -c "$src/sqlite3.c" -o "$work/sqlite3.o" \
  -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_OMIT_LOAD_EXTENSION
x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3.o"
cp "$src/sqlite3.h" "$src/sqlite3ext.h" "$prefix/include/"
touch "$prefix/.done"
rm -rf "$work"
