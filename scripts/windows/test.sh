#!/usr/bin/env bash
# The Windows build under Wine: the cross-built unit, protocol, settings and
# database tests; the command line over UDP and over COM1 (a pseudo-terminal
# of the Linux simulator, optical sign-on at 300 baud included), each request
# compared byte for byte with the Linux build's; the text export compared with
# the Linux build's; and the window started on the demo main database, with a
# screenshot. Usage: test.sh OUT (the folder windows.sh built into)
set -euo pipefail
out=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
portable=$out/portable
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
passed=0
# The verdicts go to the script's own output (fd 3), whatever a check's
# command has its output sent to.
exec 3>&1
check() { # NAME COMMAND...: one named check, counted
  local name=$1; shift
  if "$@"; then echo "PASS $name" >&3; passed=$((passed + 1)); else echo "FAIL $name" >&3; failures=$((failures + 1)); fi
}

# The Linux build's simulator and command line are the references.
BUILD_TARGETS="parvault2-cli parvault2-devsim demo_db" bash "$root/scripts/build.sh" >/dev/null
linux=$root/${BUILD_DIR:-build}
sim=$linux/tools/devsim/parvault2-devsim

export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
Xvfb :97 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:97
wineboot -i >/dev/null 2>&1
wineserver -w

# 1. The tests cross-built for Windows, run by CTest through Wine (left out
# with PV_WIN_SKIP_UNIT=1: they take most of the script's time).
if [ "${PV_WIN_SKIP_UNIT:-0}" != 1 ]; then
  check unit-tests ctest --test-dir "$out/build" --output-on-failure --timeout 300 -j1
fi

# A working folder per program, both with the demo main database.
mkdir -p "$work/lin" "$work/win"
cp "$linux/demo-data/PARVLT2.mdb" "$work/lin/"
cp "$portable/PARVLT2.mdb" "$work/win/"
cli_win() { (cd "$work/win" && wine "$portable/parvault2-cli.exe" "$@"); }
cli_lin() { (cd "$work/lin" && "$linux/tools/cli/parvault2-cli" "$@"); }
# The requests the simulator received, one hex line each.
requests() { sed -nE 's/^(udp|pty) rx //p' "$1"; }

start_sim() { # LOG ARGS...
  local log=$1; shift
  "$sim" --params "$root/tools/devsim/demo-params.txt" --type 20 --log-frames "$@" 2>"$log" >"$log.out" &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^ready' "$log.out" 2>/dev/null && return 0; sleep 0.1; done
  echo "simulator did not start" >&2; return 1
}
udp_port() { sed -n 's/^udp 127.0.0.1://p' "$1.out"; }

# 2. UDP against the Linux simulator on 127.0.0.1.
start_sim "$work/udp-lin.log" --udp 127.0.0.1:0
check udp-read-linux cli_lin read type:20 --udp "127.0.0.1:$(udp_port "$work/udp-lin.log")" --rows 1-5 \
  --format csv >"$work/udp-lin.csv"
start_sim "$work/udp-win.log" --udp 127.0.0.1:0
check udp-read-windows cli_win read type:20 --udp "127.0.0.1:$(udp_port "$work/udp-win.log")" --rows 1-5 \
  --format csv >"$work/udp-win.csv"
check udp-requests-identical cmp <(requests "$work/udp-lin.log") <(requests "$work/udp-win.log")
check udp-requests-seen test -s "$work/udp-win.log"
check udp-output-identical cmp "$work/udp-lin.csv" <(tr -d '\r' <"$work/udp-win.csv")

# 3. COM1 through the optical port: the sign-on at 300 baud, then the speed
# the device names, on a line that carries bytes at the speed set. Linux opens
# the simulator's pseudo-terminal through a COM1 link; Wine through its own
# dosdevices link.
mkdir -p "$work/ports"
start_sim "$work/com-lin.log" --pty "$work/ports/COM1" --optical --slow-line
check com-read-linux cli_lin read type:20 --port COM1 --port-links "$work/ports" --optical --rows 1-3 \
  --format csv >"$work/com-lin.csv"
start_sim "$work/com-win.log" --pty "$work/ptywin" --optical --slow-line
# Wine's mount manager points com1 at /dev/ttyS0 whenever it starts, unless
# the Ports key names the device: a dosdevices link alone is undone.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$(readlink -f "$work/ptywin")" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
ln -sfn "$(readlink -f "$work/ptywin")" "$WINEPREFIX/dosdevices/com1"
check com-read-windows cli_win read type:20 --port COM1 --optical --rows 1-3 --format csv >"$work/com-win.csv"
check com-requests-identical cmp <(requests "$work/com-lin.log") <(requests "$work/com-win.log")
check com-requests-seen test -s "$work/com-win.log"
check com-output-identical cmp "$work/com-lin.csv" <(tr -d '\r' <"$work/com-win.csv")

# 4. The text export of a saved list read from the simulator, by each build:
# the same bytes, but for the list file's name (named after the second it
# was saved in).
start_sim "$work/export.log" --udp 127.0.0.1:0
export_port=$(udp_port "$work/export.log")
save_and_export() { # CLI
  "$1" save type:20 --name "Обход" --rows 1-2,p301 >/dev/null &&
    "$1" read "list:Обход" --udp "127.0.0.1:$export_port" --export table.txt >/dev/null
}
check export-linux save_and_export cli_lin
check export-windows save_and_export cli_win
unnamed() { LC_ALL=C sed -E 's/\([0-9]+\.mdb\)//' "$1"; }
check export-identical cmp <(unnamed "$work/lin/table.txt") <(unnamed "$work/win/table.txt")

# 5. The window on the demo main database, drawn on the X display: the time
# from the start of parvault2.exe to its window on the display, and a picture.
now_ms() { date +%s%3N; }
shown_ms=""
started_ms=$(now_ms)
(cd "$work/win" && exec wine "$portable/parvault2.exe" >/dev/null 2>&1) &
window_pid=$!
pids+=($window_pid)
for _ in $(seq 600); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Parvault 2"'; then shown_ms=$(( $(now_ms) - started_ms )); break; fi
  sleep 0.05
done
check window-shown test -n "$shown_ms"
sleep 3
import -window root "$out/window-wine.png" 2>/dev/null || true
check window-screenshot test -s "$out/window-wine.png"
kill "$window_pid" 2>/dev/null || true
wineserver -k 2>/dev/null || true

# 6. Figures. Cadence at the window's pacing over UDP, from the exchange log
# of a whole type read by the Windows build: rows a second between the first
# and the last request, against the bound of one row every two 25 ms steps.
start_sim "$work/cadence.log" --udp 127.0.0.1:0
cadence_port=$(udp_port "$work/cadence.log")
cli_win read type:20 --rows all --udp "127.0.0.1:$cadence_port" --trace cadence.txt >/dev/null || true
setup_size=$(stat -c %s "$out"/Parvault2-*-setup.exe 2>/dev/null | head -1)
{
  echo "installer: ${setup_size:-?} bytes"
  echo "window start under Wine (to the window on the display): ${shown_ms:-?} ms"
  tr -d '\r' <"$work/win/cadence.txt" | awk '$2 == "→" { t[n++] = $1 } END {
    if (n < 2) { print "cadence over UDP under Wine: no requests logged"; exit }
    rate = (n - 1) / (t[n - 1] - t[0]);
    printf "cadence over UDP under Wine: %d requests in %.3f s: %.2f rows/s, bound 20 rows/s, ratio %.3f\n", n, t[n - 1] - t[0], rate, rate / 20 }'
} | tee "$out/figures.txt"

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
