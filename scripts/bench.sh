#!/usr/bin/env bash
# Builds the benchmarks (optimised, no sanitizers) and runs them: native ones directly, Windows
# ones under Wine. Each prints `<case>: <value>` lines measured side by side in one run. Last, the
# time per stage of the main job's chain (scripts/latency.sh, its own services).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
cmake --preset bench >/dev/null && cmake --build --preset bench -j2
cmake --preset windows >/dev/null && cmake --build --preset windows -j2

source scripts/lib/services.sh
services_start
trap services_stop EXIT

for b in $(find build/bench/bench -type f -executable -name '*_bench' | sort); do
  echo "== $(basename "$b")"
  "$b"
done
for b in $(find build/windows/bench -type f -name '*_bench.exe' 2>/dev/null | sort); do
  echo "== $(basename "$b") (Wine)"
  brindle_wine "$b"
done
echo "== latency.sh (Wine)"
bash scripts/latency.sh
