#!/usr/bin/env bash
# Latency per stage: the main job's chain (phone simulator, USB mux emulator, BrindleVideoControl
# streaming, the camera "Orvik" in camera_viewer's capture graph) with the stage trace on
# (common/stage_trace.h). Prints each stage's median and 95th percentile after the frame's bytes
# were received, the decoder transform's own time, publish to camera against the frame interval,
# and "own stages median: <ms> ms": received to published, less the decoder's own time.
#   LATENCY_SECONDS=N   how long the camera is watched (1..600, default 20)
#   LATENCY_CLIP=FILE   another clip, a path or a name in build/windows/clips (default the 720p one)
# Traces, one file per process, and the programs' output stay in build/latency/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/lib/run-programs.sh
run_env_setting seconds LATENCY_SECONDS 20 1 600

run_build demo_programs e2e_check
build="$root/build/windows"
clip="${LATENCY_CLIP:-clip_1280x720.264}"
[ -f "$clip" ] || clip="$build/clips/$clip"
[ -f "$clip" ] || { echo "no clip ${LATENCY_CLIP:-}"; exit 2; }
out="$root/build/latency"
mkdir -p "$out"
rm -f "$out"/*.out "$out"/*.in "$out"/trace.*

source scripts/lib/services.sh
source scripts/lib/window-driver.sh

set +e
services_start
trap 'run_stop_all; services_stop' EXIT

run_register_camera "$build/vcam/BrindleVideoVCam.dll" || exit 1
run_start_simulator "$build" "$out" "$clip" $((seconds + 120)) || exit 1
run_start_usbmux "$build" "$out" || exit 1
# The control program and the camera trace; each process appends to trace.<its id>.
BRINDLE_STAGE_TRACE="$(brindle_winepath -w "$out/trace")"
export BRINDLE_STAGE_TRACE
run_start_control "$build" "$out"
window=$(wd_find_window Orvik 30) || { echo "no window \"Orvik\" appeared"; exit 1; }
wd_press_big_button "$window" || exit 1
run_wait_ring "$build" 30 || { echo "no pictures in the frame ring"; exit 1; }

echo "latency: $(basename "$clip") for $seconds s (load: $(cut -d' ' -f1-3 /proc/loadavg))"
brindle_wine "$build/tools/camera_viewer/camera_viewer.exe" --seconds "$seconds" --samples 0 >"$out/camera_viewer.out" 2>&1
echo "camera: exit $?, $(grep -E '^samples:' "$out/camera_viewer.out")"
unset BRINDLE_STAGE_TRACE
sleep 1  # the control program's last records reach its file
traces=()
for f in "$out"/trace.*; do [ -f "$f" ] && traces+=("$(brindle_winepath -w "$f")"); done
[ "${#traces[@]}" -gt 0 ] || { echo "no stage trace was written"; exit 1; }
brindle_wine "$build/tests/e2e/e2e_check.exe" stages "${traces[@]}" | tr -d '\r'
