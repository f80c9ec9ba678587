#!/usr/bin/env bash
# Builds everything and runs every test: the portable core natively under the sanitizers, and
# the Windows programs under Wine with Xvfb and PulseAudio running. Also builds the Windows
# programs with clang, runs clang-tidy over the product code and every fuzz program briefly.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh || exit 1

cmake --preset native >/dev/null && cmake --build --preset native -j2 || exit 1
cmake --preset windows >/dev/null && cmake --build --preset windows -j2 || exit 1

# A second compiler, warnings as errors in product code. (The linker's notes that libstdc++'s
# type names come in sections of another size than clang's are harmless, and left out.)
cmake --preset windows-clang >/dev/null || exit 1
cmake --build --preset windows-clang -j2 2>&1 | grep -v 'duplicate section .* has different size'
[ "${PIPESTATUS[0]}" -eq 0 ] || exit 1

bash scripts/tidy.sh 2>&1 | tee build/tidy-run.log
tidy_rc=${PIPESTATUS[0]}

# Every fuzz program briefly on its corpus; a crash fails the run (scripts/fuzz.sh for longer runs).
bash scripts/fuzz.sh "${FUZZ_SECONDS:-10}" 2>&1 | tee build/fuzz-run.log
fuzz_rc=${PIPESTATUS[0]}

source scripts/lib/services.sh
services_start
trap services_stop EXIT

ctest --preset native 2>&1 | tee build/native-tests.log
native_rc=${PIPESTATUS[0]}
ctest --preset windows 2>&1 | tee build/windows-tests.log
windows_rc=${PIPESTATUS[0]}

# One closing line for both runs. CTest counts a skipped test among those that passed; it is
# counted apart here (a 32-bit test on a host that cannot run 32-bit programs).
passed=0
failed=0
skipped=0
for f in build/native-tests.log build/windows-tests.log; do
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$f" | tail -n 1)
  if [ -n "$line" ]; then
    f_failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    f_total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
    f_skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$f")
    failed=$((failed + f_failed))
    skipped=$((skipped + f_skipped))
    passed=$((passed + f_total - f_failed - f_skipped))
  else
    failed=$((failed + 1))
  fi
done
echo "tests: $passed passed, $failed failed, $skipped skipped"

[ "$native_rc" -eq 0 ] && [ "$windows_rc" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$fuzz_rc" -eq 0 ] &&
  [ "$tidy_rc" -eq 0 ]
