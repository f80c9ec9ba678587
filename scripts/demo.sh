#!/usr/bin/env bash
# The main job, end to end: the phone simulator streams its 1080p clip over the USB mux emulator
# into BrindleVideoControl, started by a click on its big start button; the control program
# decodes it into the frame ring, and the registered camera "Orvik" delivers it to a capture
# application (camera_viewer). Prints a summary and leaves a screenshot of the window and a
# camera frame in build/demo/. The camera is registered for the run only.
#   DEMO_SECONDS=N   how long the camera is watched (default 10)
#   DEMO_CAMERA_FORMAT=yuy2|nv12, DEMO_CAMERA_SIZE=1280x720|720x1280|1920x1080|1080x1920
#                    the format the capture application asks for (default yuy2 1280x720)
# On a usable display (DISPLAY) the window opens there and you may press Start yourself; without
# one, Xvfb is started and the button is pressed for you from the keyboard.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/lib/run-programs.sh
run_env_setting seconds DEMO_SECONDS 10 1 600

bash scripts/setup.sh
build="${DEMO_BUILD_DIR:-$root/build/windows}"  # another Windows build tree, already configured
if [ -z "${DEMO_BUILD_DIR:-}" ]; then cmake --preset windows >/dev/null; fi
cmake --build "$build" -j2 --target demo_programs
out="$root/build/demo"
mkdir -p "$out"

source scripts/lib/services.sh
source scripts/lib/window-driver.sh

user_display=""
if [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then user_display="$DISPLAY"; fi
set +e  # from here every failure is reported and handled; a server already running is fine
services_start  # its own Xvfb, the Wine server and PulseAudio
[ -n "$user_display" ] && export DISPLAY="$user_display"
trap 'run_stop_all; services_stop' EXIT

run_register_camera "$build/vcam/BrindleVideoVCam.dll" || exit 1
run_start_simulator "$build" "$out" "$build/clips/clip_1920x1080.264" || exit 1
run_start_usbmux "$build" "$out" || exit 1
run_start_control "$build" "$out"
window=$(wd_find_window Orvik 30) || { echo "no window \"Orvik\" appeared"; exit 1; }

if [ -n "$user_display" ]; then
  echo "The window \"Orvik\" is open on $DISPLAY: press Start (USB). Waiting up to 60 s for pictures..."
  run_wait_ring "$build" 60 || { echo "no pictures in the frame ring"; exit 1; }
else
  echo "Pressing Start in the window (on Xvfb $DISPLAY)"
  wd_press_big_button "$window" || exit 1
  run_wait_ring "$build" 30 || { echo "no pictures in the frame ring"; exit 1; }
fi

echo "Capturing from the camera \"Orvik\" for $seconds s"
brindle_wine "$build/tools/camera_viewer/camera_viewer.exe" --seconds "$seconds" --samples 100000 \
  --format "${DEMO_CAMERA_FORMAT:-yuy2}" --size "${DEMO_CAMERA_SIZE:-1280x720}" \
  --png "$(brindle_winepath -w "$out/camera_frame.png")" >"$out/camera_viewer.out" 2>&1
brindle_wine "$build/tools/ring_probe/ring_probe.exe" >"$out/ring_probe.out" 2>&1
wd_shot "$window" "$out/window.png"
run_stop_simulator

echo
echo "=== Summary ==="
grep -h "video frames sent:" "$out/sim.out" | sed 's/^\[phone_sim\] /simulator: /'
sed 's/^/frame ring: /' "$out/ring_probe.out"
grep -E "^(format|samples|grey samples|frame counters):" "$out/camera_viewer.out" | sed 's/^/camera: /'
echo "window screenshot: $out/window.png"
echo "camera frame:      $out/camera_frame.png"
