#!/usr/bin/env bash
# The end-to-end test: phone simulator -> USB mux emulator -> the control program, started from
# its window's keyboard -> frame ring -> the registered camera in a real capture graph; then the
# same over Wi-Fi to 127.0.0.1 typed into the window; and the simulator's tone from the sound
# server's monitor. The camera's pictures must be pictures the simulator sent, in order.
#   e2e_test.sh BUILD_DIR      (the Windows build tree)
# Needs an X display (DISPLAY, or Xvfb started here), Wine, xdotool, imagemagick (screenshots), parec.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:?usage: e2e_test.sh BUILD_DIR}" && pwd)"
out="$build/e2e"
mkdir -p "$out"
rm -f "$out"/*.log "$out"/*.png "$out"/*.raw "$out"/*.out "$out"/*.in

source "$root/scripts/lib/services.sh"
source "$root/scripts/lib/window-driver.sh"
source "$root/scripts/lib/run-programs.sh"

for tool in xdotool import parec; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
if [ -z "${DISPLAY:-}" ] || ! xdotool getdisplaygeometry >/dev/null 2>&1; then
  services_start
  own_services=1
fi
# services_start prepares the prefix; preparing it again here would wait for its persistent server.
[ -f "$WINEPREFIX/.brindle-configured" ] || brindle_wine_prefix

failures=0
check() {  # description, then the command
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

trap 'run_stop_all; [ -n "${own_services:-}" ] && services_stop' EXIT

run_register_camera "$build/vcam/BrindleVideoVCam.dll" || exit 1
run_start_simulator "$build" "$out" "$build/clips/clip_1280x720.264" || exit 1
run_start_usbmux "$build" "$out" || exit 1
run_start_control "$build" "$out" || exit 1
window=$(wd_find_window Orvik 30) || { echo "e2e: no window \"Orvik\""; exit 1; }
echo "window $window"

# The big button from the keyboard; what it did shows in the ring.
start_stream() { wd_press_big_button "$window" && run_wait_ring "$build" 30; }
stop_stream() { wd_press_big_button "$window" && run_wait_ring_gone "$build" 20; }

# One streaming phase: press start, wait for pictures in the ring, let the camera run, press stop.
phase() {
  local name="$1"
  check "$name: Start starts the stream: pictures are published in the ring" start_stream
  if [ "$name" = usb ]; then
    timeout 10 parec -d @DEFAULT_MONITOR@ --raw --format=s16le --rate=48000 --channels=1 >"$out/tone.raw" 2>/dev/null &
    parec_pid=$!
  fi
  brindle_wine "$build/tools/camera_viewer/camera_viewer.exe" --seconds 6 --samples 0 \
    --log "$(brindle_winepath -w "$out/samples_$name.log")" >"$out/camera_$name.out" 2>&1
  echo "camera ($name): exit $? $(grep '^samples:' "$out/camera_$name.out")"
  brindle_wine "$build/tools/ring_probe/ring_probe.exe" | sed "s/^/ring ($name): /"
  wd_shot "$window" "$out/window_$name.png"
  if [ -n "${parec_pid:-}" ]; then wait "$parec_pid"; parec_pid=""; fi
  check "$name: Stop ends the stream and releases the ring" stop_stream
}

phase usb
# Wi-Fi to 127.0.0.1; the phase shows whether it took (pictures, and the simulator's second
# connection below).
wd_choose_wifi "$window" 127.0.0.1 || echo "e2e: the keys for Wi-Fi could not be sent"
phase wifi

run_stop_simulator
grep -h "connection #\|video frames sent" "$out/sim.out"
for name in usb wifi; do
  echo "--- $name"
  check "$name: the camera's frame counters advance and match pictures sent" \
    brindle_wine "$build/tests/e2e/e2e_check.exe" latency "$(brindle_winepath -w "$out/sent.log")" "$(brindle_winepath -w "$out/samples_$name.log")"
done
echo "--- audio"
check "the simulator's 1 kHz tone reaches the sound card" \
  brindle_wine "$build/tests/e2e/e2e_check.exe" tone "$(brindle_winepath -w "$out/tone.raw")" 48000
wifi_to_typed_address() {
  grep -q "connection #2" "$out/sim.out" && [ "$(grep -c "tunnel open" "$out/usbmux.out")" -eq 1 ] &&
    grep -q "\[WifiTransport\] connect attempt to 127.0.0.1:5555" "$out/control.out"
}
check "the simulator saw a connection through the USB tunnel and one over Wi-Fi to the typed address" \
  wifi_to_typed_address

echo "e2e: $failures failed checks"
[ "$failures" -eq 0 ]
