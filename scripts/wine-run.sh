#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (CTest's emulator for Windows tests).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
brindle_wine_prefix

# With 32-bit Wine installed, Debian's `wine` starts the 32-bit loader, which hands a 64-bit
# program on through a path limited to 260 characters; start 64-bit programs with the 64-bit
# loader directly. The PE header says which kind a program is (machine 0x8664: x86-64).
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] && od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
if [ -x /usr/lib/wine/wine64 ] && [ -f "$1" ] && [ "$(pe_machine "$1")" = "8664" ]; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
