#!/usr/bin/env bash
# The main job's chain under load: the phone simulator streams a clip over the USB mux emulator
# into BrindleVideoControl, the camera "Orvik" is captured by camera_viewer and the sound
# server's monitor is recorded, while a busy loop runs on every core. After a 3 s warm-up it
# prints the camera's delay (simulator send to camera sample, one clock), its picture rate, and
# the gaps in the simulator's 1 kHz tone.
#   scripts/load.sh [720p|1080p] [SECONDS]   (default 1080p for 20 s, SECONDS 5..600)
#   LOAD_BUSY=0                              no busy loops: the same figures on an idle machine
# Logs and the recording stay in build/load/. Exits 0 when pictures and sound arrived, 1 when
# the chain did not deliver, 2 on bad arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/lib/run-programs.sh
case "${1:-1080p}" in
  720p) size=1280x720 ;;
  1080p) size=1920x1080 ;;
  *) echo "usage: scripts/load.sh [720p|1080p] [SECONDS]"; exit 2 ;;
esac
seconds="${2:-20}"
run_check_range SECONDS "$seconds" 5 600
busy="${LOAD_BUSY:-1}"
warmup=3

run_build demo_programs e2e_check
build="$root/build/windows"
out="$root/build/load"
mkdir -p "$out"
rm -f "$out"/*.out "$out"/*.in "$out"/*.log "$out"/*.raw

source scripts/lib/services.sh
source scripts/lib/window-driver.sh

set +e
services_start
busy_pids=()
stop_busy() {
  local pid
  for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  busy_pids=()
}
viewer_pid=""
trap 'stop_busy; [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null; run_stop_all; services_stop' EXIT

run_register_camera "$build/vcam/BrindleVideoVCam.dll" || exit 1
run_start_simulator "$build" "$out" "$build/clips/clip_$size.264" $((seconds + 120)) || exit 1
run_start_usbmux "$build" "$out" || exit 1
run_start_control "$build" "$out"
window=$(wd_find_window Orvik 30) || { echo "no window \"Orvik\" appeared"; exit 1; }

if [ "$busy" != 0 ]; then
  for i in $(seq 1 "$(nproc)"); do
    sh -c 'while :; do :; done' &
    busy_pids+=($!)
  done
fi
loops=${#busy_pids[@]}
echo "load: $size for $seconds s, $loops busy loops (load average $(cut -d' ' -f1-3 /proc/loadavg))"
# Camera and recording run before the stream starts: a delay is told apart from one a loop of the
# clip (2 s) shorter only when the first picture came within a loop.
timeout $((seconds + 8)) parec -d @DEFAULT_MONITOR@ --raw --format=s16le --rate=48000 --channels=1 >"$out/tone.raw" 2>/dev/null &
parec_pid=$!
brindle_wine "$build/tools/camera_viewer/camera_viewer.exe" --seconds $((seconds + 8)) --samples 0 \
  --log "$(brindle_winepath -w "$out/samples.log")" >"$out/camera_viewer.out" 2>&1 &
viewer_pid=$!
sleep 5  # the capture graph runs
wd_press_big_button "$window" || exit 1
run_wait_ring "$build" 30 || echo "no pictures in the frame ring"
wait "$viewer_pid"
viewer_pid=""
wait "$parec_pid"
stop_busy
run_stop_simulator  # writes sent.log

echo
echo "=== Load: $size, $seconds s, $loops busy loops ==="
brindle_wine "$build/tests/e2e/e2e_check.exe" load "$(brindle_winepath -w "$out/sent.log")" "$(brindle_winepath -w "$out/samples.log")" \
  "$(brindle_winepath -w "$out/tone.raw")" 48000 "$warmup"
