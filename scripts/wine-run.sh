#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (CTest's emulator for Windows tests).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
brindle_wine_prefix
exec wine "$@"
