#!/usr/bin/env bash
# Static analysis: clang-tidy with the checks in .clang-tidy over every product source, as the
# clang build of the Windows tree compiles it (the "windows-clang" preset; configuring it is
# enough). Prints each finding and a closing line; exits non-zero on any finding.
#   TIDY_JOBS=N    clang-tidy processes side by side (default 2)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh >/dev/null || exit 1
cmake --preset windows-clang >/dev/null || exit 1

log="build/tidy.log"
# run-clang-tidy always asks for colours: strip them.
run-clang-tidy -p build/windows-clang -j "${TIDY_JOBS:-2}" -quiet \
  "^$root/(app|camera|common|dshow|i18n|media|mfcam|pixels|receiver|ring|session|transport|vcam)/" 2>&1 | sed 's/\x1b\[[0-9;]*m//g' >"$log"
rc=${PIPESTATUS[0]}
grep -E '^/.*: (warning|error): ' "$log" | sed "s|^$root/||" | sort -u
files=$(grep -cE '^clang-tidy.* -p=' "$log")
findings=$(grep -E '^/.*: (warning|error): ' "$log" | sort -u | wc -l)
echo "clang-tidy: $findings findings in $files product sources (log: $log)"
[ "$rc" -eq 0 ] && [ "$findings" -eq 0 ]
