#!/usr/bin/env bash
# Installs, builds, and runs the program's main job on its demo data: the
# window in the working folder demo/, with the demo main database and the
# device simulator answering on UDP 127.0.0.1 (and on a pseudo-terminal
# linked as COM9).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only what the demo uses: the window, the simulator and the demo database.
BUILD_TARGETS="parvault2 parvault2-devsim demo_db" bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
top=$(pwd)
demo="$top/demo"
udp_port=${PARVAULT_DEMO_UDP_PORT:-40123}
mkdir -p "$demo"

# The main database is copied once: lists saved in demo/ stay between runs.
[ -f "$demo/PARVLT2.mdb" ] || cp "$BUILD_DIR/demo-data/PARVLT2.mdb" "$demo/PARVLT2.mdb"

# Settings for a first run: UDP to the simulator, 1 s answer wait, COM9 as the
# serial port (the simulator's pseudo-terminal). Eleven little-endian 32-bit
# items: portIndex, speedIndex, 64 port numbers, own and device address,
# wait, useAddress, useOptoport, useIp, device IP, UDP port.
le32() {
  # shellcheck disable=SC2059 # the format is the four octal escapes
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $((($1 >> 8) & 255)) \
    $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"
}
if [ ! -f "$demo/Parvault2.i" ]; then
  {
    le32 0; le32 9; le32 9
    for _ in $(seq 63); do le32 0; done
    le32 1; le32 0; le32 1; le32 0; le32 0; le32 1
    le32 $(( (127 << 24) | 1 )); le32 "$udp_port"
  } > "$demo/Parvault2.i"
fi

# The simulator: every demo device type's parameters, unknown ones read as 0.
links=$(getent passwd "$(id -u)" | cut -d: -f6)/.parvault2/ports
mkdir -p "$links"
"$BUILD_DIR/tools/devsim/parvault2-devsim" --params tools/devsim/demo-params.txt --answer-any \
  --udp "127.0.0.1:$udp_port" --pty "$links/COM9" > "$demo/devsim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT INT TERM
for _ in $(seq 50); do grep -q ready "$demo/devsim.log" 2>/dev/null && break; sleep 0.1; done
echo "Device simulator: $(grep -E '^(udp|pty)' "$demo/devsim.log" | tr '\n' ' ')"

cd "$demo"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" = "" ]; then
  echo "No display: running the window on a virtual X display (xvfb-run)."
  xvfb-run -a "$top/$BUILD_DIR/src/app/parvault2" "$@"
else
  "$top/$BUILD_DIR/src/app/parvault2" "$@"
fi
