#!/usr/bin/env bash
# Soak run: the main job's chain (phone simulator, USB mux emulator, BrindleVideoControl
# streaming, the camera "Orvik" in camera_viewer's capture graph) for MINUTES, with the private
# bytes, handle count and thread count of the control program and of the capture process
# sampled every 10 s from inside Windows (process_probe). At the end, each series' slope per
# hour after a warm-up (a sixth of the run, at most 5 minutes), by least squares, and whether
# it grew beyond noise. Resident memory is shown too but not judged: under Wine it takes in the
# host's own libraries, and memory committed once but touched a page at a time (Wine's Direct3D
# fills an 8 MiB command ring that way, over half an hour at a light drawing rate).
#   scripts/soak.sh MINUTES        (1..600; SOAK_CLIP picks another clip, default the 1080p one)
#   scripts/soak.sh --report FILE  (judges the samples of an earlier run again)
# Noise: a series grows when its level in the last third of the window (the median) lies above
# its level in the first third by more than twice the standard deviation of the samples around
# the fitted line, and by more than one handle or thread, or 1 MiB of memory. A handle made once
# along the way is a step of one, not growth; a leak keeps climbing. Samples and a summary stay
# in build/soak/. Exits 0 on pass, 1 on growth, a missing sample (a program died) or a chain that
# stopped delivering, 2 on bad arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
# Judges the samples in $1, leaving out the first $2 seconds: one line per program and series,
# exit 1 when a series grew or a program was missing.
judge() {
  awk -v warmup="$2" '
    $1 != "sample" { next }
    $4 == "-" { missing[$3]++; next }
    $2 >= warmup {
      for (m = 0; m < 4; m++) {
        if (m == 3 && $8 == "") continue
        key = $3 SUBSEP m; n[key]++; x[key, n[key]] = $2; y[key, n[key]] = $(5 + m)
        if (n[key] == 1) first[key] = $(5 + m)
        last[key] = $(5 + m)
      }
      names[$3] = 1
    }
    # The median of samples a..b of series `key`.
    function median(key, a, b,   i, j, t, c, v) {
      c = 0
      for (i = a; i <= b; i++) v[++c] = y[key, i]
      for (i = 2; i <= c; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
      return c % 2 ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2
    }
    END {
      split("private bytes,handles,threads,resident bytes", label, ",")
      quantum[0] = quantum[3] = 1048576; quantum[1] = 1; quantum[2] = 1
      fail = 0
      for (name in missing) { printf "%s: %d samples missing (not running)\n", name, missing[name]; fail = 1 }
      for (name in names) for (m = 0; m < 4; m++) {
        key = name SUBSEP m; k = n[key]
        if (m == 3 && k == 0) continue  # samples from before resident bytes were taken
        if (k < 3) { printf "%s %s: too few samples after the warm-up\n", name, label[m + 1]; fail = 1; continue }
        sx = sy = 0
        for (i = 1; i <= k; i++) { sx += x[key, i]; sy += y[key, i] }
        mx = sx / k; my = sy / k; sxx = sxy = 0
        for (i = 1; i <= k; i++) { sxx += (x[key, i] - mx) ^ 2; sxy += (x[key, i] - mx) * (y[key, i] - my) }
        slope = sxy / sxx; ss = 0
        for (i = 1; i <= k; i++) { r = y[key, i] - (my + slope * (x[key, i] - mx)); ss += r * r }
        sigma = sqrt(ss / (k - 2)); span = x[key, k] - x[key, 1]
        third = int(k / 3); if (third < 1) third = 1
        growth = median(key, k - third + 1, k) - median(key, 1, third)
        noise = 2 * sigma > quantum[m] ? 2 * sigma : quantum[m]
        ok = growth <= noise
        if (!ok && m < 3) fail = 1
        if (m == 0 || m == 3)
          printf "%s %s: %.1f -> %.1f MiB, slope %+.2f MiB/h over %d s, last third %+.2f MiB on the first, noise %.2f MiB: %s\n",
            name, label[m + 1], first[key] / 1048576, last[key] / 1048576, slope * 3600 / 1048576, span,
            growth / 1048576, noise / 1048576, m == 3 ? (ok ? "flat (not judged)" : "grows (not judged)") : ok ? "ok" : "GROWS"
        else
          printf "%s %s: %d -> %d, slope %+.2f/h over %d s, last third %+.1f on the first, noise %.2f: %s\n",
            name, label[m + 1], first[key], last[key], slope * 3600, span, growth, noise, ok ? "ok" : "GROWS"
      }
      exit fail
    }' "$1"
}

if [ "${1:-}" = "--report" ]; then
  [ -f "${2:-}" ] || { echo "usage: scripts/soak.sh --report SAMPLES"; exit 2; }
  last=$(awk '$1 == "sample" { t = $2 } END { print int(t) }' "$2")
  judge "$2" $((last / 6 < 300 ? last / 6 : 300))
  exit
fi
minutes="${1:-}"
case "$minutes" in '' | *[!0-9]*) echo "usage: scripts/soak.sh MINUTES (1..600)"; exit 2 ;; esac
source scripts/lib/run-programs.sh
run_check_range MINUTES "$minutes" 1 600

run_build demo_programs process_probe
build="$root/build/windows"
clip="${SOAK_CLIP:-$build/clips/clip_1920x1080.264}"
out="$root/build/soak"
mkdir -p "$out"
rm -f "$out"/*.out "$out"/*.in

source scripts/lib/services.sh
source scripts/lib/window-driver.sh

set +e
services_start
viewer_pid=""
trap '[ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null; run_stop_all; services_stop' EXIT

seconds=$((minutes * 60))
run_register_camera "$build/vcam/BrindleVideoVCam.dll" || exit 1
run_start_simulator "$build" "$out" "$clip" $((seconds + 300)) || exit 1
run_start_usbmux "$build" "$out" || exit 1
run_start_control "$build" "$out"
window=$(wd_find_window Orvik 30) || { echo "no window \"Orvik\" appeared"; exit 1; }
wd_press_big_button "$window" || exit 1
run_wait_ring "$build" 30 || { echo "no pictures in the frame ring"; exit 1; }
brindle_wine "$build/tools/ring_probe/ring_probe.exe" >"$out/ring_start.out" 2>&1

brindle_wine "$build/tools/camera_viewer/camera_viewer.exe" --seconds $((seconds + 30)) --samples 0 >"$out/camera_viewer.out" 2>&1 &
viewer_pid=$!
sleep 5  # the graph runs before the first sample is taken
echo "soak: sampling every 10 s for $minutes min (load: $(cut -d' ' -f1-3 /proc/loadavg))"
brindle_wine "$build/tools/process_probe/process_probe.exe" --every 10 --count $((seconds / 10 + 1)) \
  BrindleVideoControl.exe camera_viewer.exe >"$out/samples.out" 2>&1
brindle_wine "$build/tools/ring_probe/ring_probe.exe" >"$out/ring_end.out" 2>&1
wait "$viewer_pid"
viewer_rc=$?
viewer_pid=""
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "=== Soak: $minutes min ==="
echo "frame ring at start: $(cat "$out/ring_start.out")"
echo "frame ring at end:   $(cat "$out/ring_end.out")"
echo "camera: exit $viewer_rc, $(grep -E '^samples:' "$out/camera_viewer.out")"
verdict=0
[ "$viewer_rc" -eq 0 ] || { echo "the camera's capture did not finish well"; verdict=1; }
if cmp -s "$out/ring_start.out" "$out/ring_end.out"; then echo "the ring stopped changing"; verdict=1; fi

warmup=$((seconds / 6 < 300 ? seconds / 6 : 300))
judge "$out/samples.out" "$warmup" | tee "$out/summary.txt"
[ "${PIPESTATUS[0]}" -eq 0 ] || verdict=1
echo "warm-up: first $warmup s left out; samples: $out/samples.out"
if [ "$verdict" -eq 0 ]; then echo "soak: pass"; else echo "soak: FAIL"; fi
exit "$verdict"
