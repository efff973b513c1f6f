#!/usr/bin/env bash
# Gathers the cross-built programs into OUT/portable, zips it and makes the
# installer with NSIS. Usage: bundle.sh OUT
set -euo pipefail
out=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$out/build
version=$(sed -n 's/^project(Parvault2 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
portable=$out/portable
rm -rf "$portable"
mkdir -p "$portable/help"
for exe in parvault2 parvault2-cli parvault2-devsim parvault2-launch parvault2-jetread; do
  found=$(find "$build" -name "$exe.exe" -not -path '*/CMakeFiles/*' | head -1)
  if [ -n "$found" ]; then
    cp "$found" "$portable/"
    x86_64-w64-mingw32-strip "$portable/$exe.exe"
  elif [ "$exe" != parvault2-jetread ]; then
    echo "bundle: $exe.exe was not built" >&2
    exit 1
  fi
done
cp "$build/demo-data/PARVLT2.mdb" "$root/tools/devsim/demo-params.txt" "$portable/"
cp "$root/src/app/help/index.html" "$root/src/app/help/compare.png" "$portable/help/"
# Static programs: nothing else may be needed. Say so if one asks for a DLL
# that Windows does not have.
for exe in "$portable"/*.exe; do
  x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' |
    grep -vxE 'kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ole32.dll|oleaut32.dll|ws2_32.dll|setupapi.dll|comdlg32.dll|winmm.dll|imm32.dll|uxtheme.dll|dwmapi.dll|version.dll|netapi32.dll|userenv.dll|mpr.dll|shlwapi.dll|wtsapi32.dll|authz.dll|d3d9.dll|d3d11.dll|d3d12.dll|dxgi.dll|dwrite.dll|d2d1.dll|api-ms-win-.*|msvcrt.dll|crypt32.dll|bcrypt.dll|secur32.dll|iphlpapi.dll|winspool.drv|comctl32.dll|synchronization.dll|runtimeobject.dll|combase.dll|shcore.dll' |
    sed "s|^|bundle: $(basename "$exe") needs |" >&2 || true
done
rm -f "$out"/Parvault2-*-portable.zip
(cd "$out" && zip -qr "Parvault2-$version-portable.zip" portable)
makensis -V2 -DVERSION="$version" -DPORTABLE="$portable" -DOUTFILE="$out/Parvault2-$version-setup.exe" \
  "$root/packaging/windows/parvault2.nsi"
ls -l "$out"/Parvault2-*
