#!/usr/bin/env bash
# The main job, end to end as far as the system goes today: the phone simulator streams its
# 1080p clip (video, orientation, audio) over TCP into the stream spine (Wi-Fi transport and
# stream controller, a Windows program under Wine), which prints the statistics line once a
# second.   DEMO_SECONDS=N sets how long it runs (default 10).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${DEMO_SECONDS:-10}"
port="${DEMO_PORT:-5555}"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target stream_stats brindle_clips
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target phone_sim

source scripts/services.sh
services_start
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  services_stop
}
trap cleanup EXIT

build/bench/tools/phone_sim --bind 127.0.0.1 --port "$port" --clip build/windows/clips/clip_1920x1080.264 &
sim_pid=$!
sleep 0.5
echo "phone simulator on 127.0.0.1:$port; receiving for $seconds s"
wine build/windows/tools/stream_stats/stream_stats.exe 127.0.0.1 "$port" "$seconds"
