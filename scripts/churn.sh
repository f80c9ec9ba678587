#!/usr/bin/env bash
# The churn runs at their full counts: 1,000 start/stop cycles of the receive chain against the
# phone simulator, 200 phone disconnects with the chain reconnecting by itself, and 1,000
# Run/Stop cycles of a camera graph over a live ring, each followed by a check that memory,
# handles and threads are back at their level (tests/churn; scripts/test.sh runs short counts).
# Prints one "churn ..." line per run with the figures, and progress lines on the way;
# BRINDLE_CHURN_LOG=1 adds the phone simulator's lines. Exits as the test program does.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh >/dev/null || exit 1
cmake --preset windows >/dev/null && cmake --build --preset windows -j2 --target churn_test || exit 1

source scripts/lib/services.sh
services_start
trap services_stop EXIT
BRINDLE_CHURN_FULL=1 bash scripts/lib/wine-run.sh build/windows/tests/churn/churn_test.exe "$@"
