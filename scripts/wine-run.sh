#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (CTest's emulator for Windows tests).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
brindle_wine_prefix
# Debian's wine script tries the 32-bit loader first once wine32 is installed, and that one cannot
# start a program whose path is longer than MAX_PATH. The 64-bit loader runs 64-bit programs
# itself and hands 32-bit ones to the 32-bit loader.
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=wine
exec "$loader" "$@"
