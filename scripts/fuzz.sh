#!/usr/bin/env bash
# Builds the fuzz programs (the "fuzz" preset) and runs each for SECONDS (default 60) on its
# corpus: the seeds in fuzz/corpus/<program> and what earlier runs added in
# build/fuzz/corpus/<program>. Prints "<program>: <runs> runs, <crashes> crashes" per program,
# where crashes counts every input that crashed, failed a check, leaked, hung (more than
# FUZZ_TIMEOUT seconds, default 10) or ran out of memory. Those inputs are kept as reproducers in
# build/fuzz/crashes/<program>/ (run the program with one as its argument to repeat it), each
# run's log in build/fuzz/logs/. Exits non-zero when anything crashed.
#
#   FUZZ_TARGETS="stream_fuzz locale_fuzz"   only these programs
#   FUZZ_JOBS=N                              N programs side by side (default 1)
set -uo pipefail
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh >/dev/null || exit 1
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 >/dev/null || {
  echo "fuzz: build failed (cmake --build --preset fuzz)"
  exit 1
}

out="build/fuzz"
targets="${FUZZ_TARGETS:-$(cd fuzz && ls -1 *_fuzz.cpp | sed 's/\.cpp$//')}"
mkdir -p "$out/logs"

# One program: fork mode keeps fuzzing after a crash, so one run can find several.
run_one() {
  local name="$1" dict=()
  mkdir -p "$out/corpus/$name" "$out/crashes/$name"
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  local before
  before=$(ls "$out/crashes/$name" | wc -l)
  # -print_funcs=0: naming every newly covered function costs a symbolizer run each.
  "$out/fuzz/$name" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -print_funcs=0 \
    -max_total_time="$seconds" -timeout="${FUZZ_TIMEOUT:-10}" "${dict[@]}" \
    -artifact_prefix="$out/crashes/$name/" "$out/corpus/$name" "fuzz/corpus/$name" \
    >"$out/logs/$name.log" 2>&1
  local rc=$? after runs crashes
  after=$(ls "$out/crashes/$name" | wc -l)
  crashes=$((after - before))
  # The last statistics line of fork mode: "#<runs>: cov: ... oom/timeout/crash: a/b/c ...".
  # -a: a program's own output may put raw bytes in the log, and grep would then only say
  # "binary file matches".
  runs=$(grep -aE '^#[0-9]+: cov:' "$out/logs/$name.log" | tail -n 1 | sed -E 's/^#([0-9]+):.*/\1/')
  [ -n "$runs" ] || runs=0
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then
    crashes=1  # it stopped without a reproducer: the log says why
  fi
  echo "$name: $runs runs, $crashes crashes" >"$out/logs/$name.result"
}

jobs="${FUZZ_JOBS:-1}"
for name in $targets; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_one "$name" &
done
wait

status=0
for name in $targets; do
  line=$(cat "$out/logs/$name.result" 2>/dev/null || echo "$name: 0 runs, 1 crashes")
  echo "$line"
  case "$line" in *" 0 crashes") ;; *) status=1 ;; esac
done
[ "$status" -eq 0 ] || echo "fuzz: reproducers in $out/crashes/, logs in $out/logs/"
exit "$status"
