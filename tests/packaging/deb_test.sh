#!/usr/bin/env bash
# Builds the Debian package from this build folder (the programs as built, no
# rebuild), unpacks it into a temporary root and uses it from there as an
# installed system would: the programs, the packaged demo data with the
# simulator, the window and the launcher on the offscreen platform, the
# manual pages and the desktop entry.
# Usage: deb_test.sh BUILD_DIR VERSION [CPACK]
set -euo pipefail
build=$1
version=$2
cpack=${3:-cpack}
tmp=$(mktemp -d)
pids=()
window_pid=
cleanup() {
  for p in "${pids[@]}" $window_pid; do kill "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

step "cpack"
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"; fail "cpack"
fi
debs=("$tmp"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
echo "$(basename "$deb"), $(stat -c %s "$deb") bytes"

step "control fields"
[ "$(dpkg-deb -f "$deb" Package)" = parvault2 ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), project $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# Computed from the binaries: the libraries they link must all be there.
for lib in libqt6widgets6 libqt6serialport6 libsqlite3-0 libc6 libstdc++6; do
  [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] || fail "Depends lacks $lib"
done

root=$tmp/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
share=$root/usr/share

step "files"
for f in bin/parvault2 bin/parvault2-cli bin/parvault2-devsim bin/parvault2-launch \
  share/applications/parvault2.desktop share/icons/hicolor/scalable/apps/parvault2.svg \
  share/parvault2/PARVLT2.mdb share/parvault2/demo-params.txt share/parvault2/help/index.html share/parvault2/help/compare.png \
  share/doc/parvault2/copyright share/doc/parvault2/changelog.gz lib/parvault2/parvault2-jetread; do
  [ -f "$root/usr/$f" ] || fail "missing /usr/$f"
done
for p in "$bin"/*; do
  [ -f "$share/man/man1/$(basename "$p").1.gz" ] || fail "no manual page for $(basename "$p")"
  [ -x "$p" ] || fail "$p not executable"
done
# Each PNG is as large as the folder it is in says (width and height from
# the PNG header).
for png in "$share"/icons/hicolor/*x*/apps/parvault2.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "${w}x${h}" = "$size" ] || fail "$png is ${w}x${h}"
done

step "parvault2-cli --help"
"$bin/parvault2-cli" --help >"$tmp/help.txt"
grep -q '^Usage: parvault2-cli' "$tmp/help.txt" || fail "parvault2-cli --help"
for p in parvault2-devsim parvault2 parvault2-launch; do
  "$bin/$p" --help >"$tmp/help.txt" || fail "$p --help"
  grep -q "^Usage: $p " "$tmp/help.txt" || fail "$p --help"
done

step "parvault2-cli tree on the packaged demo database"
work=$tmp/work
mkdir -p "$work"
cp "$share/parvault2/PARVLT2.mdb" "$work/"
(cd "$work" && "$bin/parvault2-cli" tree) >"$tmp/tree.txt" || { cat "$tmp/tree.txt"; fail "tree"; }
cat "$tmp/tree.txt"
grep -qE '^ *type:20 ' "$tmp/tree.txt" || fail "the demo device type 20 is not in the tree"

step "a Jet main database, read through the installed helper"
jetwork=$tmp/jetwork
mkdir -p "$jetwork"
cp "$(dirname "$0")/../jet/fixtures/demo-jet3/PARVLT2.mdb" "$jetwork/"
(cd "$jetwork" && env -u PARVAULT_JETREAD "$bin/parvault2-cli" tree) >"$tmp/jettree.txt" 2>&1 \
  || { cat "$tmp/jettree.txt"; fail "tree of a Jet main database"; }
grep -qE '^ *type:20 ' "$tmp/jettree.txt" || { cat "$tmp/jettree.txt"; fail "type 20 not in the Jet tree"; }

step "the packaged simulator answers the packaged demo database's rows"
"$bin/parvault2-devsim" --params "$share/parvault2/demo-params.txt" --type 20 \
  --udp 127.0.0.1:0 >"$tmp/devsim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready' "$tmp/devsim.out" && break; sleep 0.1; done
udp=$(awk '/^udp / { print $2 }' "$tmp/devsim.out")
[ -n "$udp" ] || { cat "$tmp/devsim.out"; fail "simulator did not start"; }
(cd "$work" && "$bin/parvault2-cli" read type:20 --udp "$udp" --wait 1 --rows 1-3 --format csv \
  --quiet) >"$tmp/read.csv" || { cat "$tmp/read.csv"; fail "reading from the simulator"; }
cat "$tmp/read.csv"
[ "$(grep -c ',ok,' "$tmp/read.csv")" -eq 3 ] || fail "three rows read ok"

# Waits until process $1 runs the packaged window in folder $2, then checks
# that it is still running a moment later (it did not fail at start-up).
expect_window() {
  local pid=$1 folder=$2 i
  window_pid=$pid # ended by the clean-up if a check below fails
  for i in $(seq 100); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$bin/parvault2" ] && break
    kill -0 "$pid" 2>/dev/null || fail "process $pid ended before the window ran"
    sleep 0.1
  done
  [ "$(readlink "/proc/$pid/exe")" = "$bin/parvault2" ] || fail "process $pid is not the window"
  [ "$(readlink "/proc/$pid/cwd")" = "$folder" ] || fail "window works in $(readlink "/proc/$pid/cwd"), not $folder"
  sleep 1
  kill -0 "$pid" 2>/dev/null || fail "the window ended by itself"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  window_pid=
}
export QT_QPA_PLATFORM=offscreen

step "the window, offscreen, in a folder with the demo database"
(cd "$work" && exec "$bin/parvault2") 2>"$tmp/window.err" &
expect_window $! "$work"

step "the launcher: first start in a new home"
home=$tmp/home
mkdir -p "$home"
HOME=$home "$bin/parvault2-launch" 2>"$tmp/launch1.err" &
expect_window $! "$home/Parvault2"
cat "$tmp/launch1.err"
cmp "$home/Parvault2/PARVLT2.mdb" "$share/parvault2/PARVLT2.mdb" || fail "demo database not copied"
grep -q 'скопирована демонстрационная база' "$tmp/launch1.err" || fail "no message about the copy"
grep -q 'Папка создана' "$tmp/launch1.err" || fail "no message about the new folder"

step "the launcher: next start keeps the user's database and says nothing"
echo "the user's own" >"$home/Parvault2/PARVLT2.mdb"
HOME=$home "$bin/parvault2-launch" 2>"$tmp/launch2.err" &
expect_window $! "$home/Parvault2"
[ "$(cat "$home/Parvault2/PARVLT2.mdb")" = "the user's own" ] || fail "the user's database was replaced"
if grep -q 'parvault2-launch:' "$tmp/launch2.err"; then cat "$tmp/launch2.err"; fail "message on a later start"; fi

step "the launcher: an existing folder without a database gets one; x goes to the window"
mkdir -p "$tmp/other"
HOME=$home "$bin/parvault2-launch" --dir "$tmp/other" x 2>"$tmp/launch3.err" &
pid=$!
window_pid=$pid
for _ in $(seq 100); do [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$bin/parvault2" ] && break; sleep 0.1; done
tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q 'parvault2 x $' || fail "arguments not passed to the window"
expect_window $pid "$tmp/other"
cmp "$tmp/other/PARVLT2.mdb" "$share/parvault2/PARVLT2.mdb" || fail "demo database not copied into --dir"
grep -q 'скопирована' "$tmp/launch3.err" || fail "no message about the copy"
! grep -q 'Папка создана' "$tmp/launch3.err" || fail "an existing folder reported as created"

step "the launcher: a working folder that cannot be made"
touch "$tmp/afile"
if HOME=$home "$bin/parvault2-launch" --dir "$tmp/afile/sub" 2>"$tmp/launch4.err"; then
  fail "launcher went on without a folder"
fi
grep -q 'parvault2-launch:' "$tmp/launch4.err" || fail "no message for a folder that cannot be made"

step "manual pages"
for page in "$share"/man/man1/*.1.gz; do
  # groff's warnings go to standard error; the page must have none.
  MANWIDTH=80 man --warnings -l "$page" >"$tmp/page.txt" 2>"$tmp/page.err" || fail "man -l $page"
  if [ -s "$tmp/page.err" ]; then cat "$tmp/page.err"; fail "$page: warnings"; fi
  grep -q '^NAME' "$tmp/page.txt" && grep -q '^SYNOPSIS' "$tmp/page.txt" || fail "$page: no NAME/SYNOPSIS"
  echo "$(basename "$page"): $(wc -l <"$tmp/page.txt") lines"
done

step "desktop entry"
desktop=$share/applications/parvault2.desktop
desktop-file-validate "$desktop" >"$tmp/dfv.txt" 2>&1 || { cat "$tmp/dfv.txt"; fail "desktop-file-validate"; }
if [ -s "$tmp/dfv.txt" ]; then cat "$tmp/dfv.txt"; fail "desktop-file-validate has remarks"; fi
exec_cmd=$(sed -n 's/^Exec=//p' "$desktop" | cut -d' ' -f1)
[ -x "$bin/$exec_cmd" ] || fail "Exec=$exec_cmd is not in the package"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon is not in the package"

echo "package test passed"
