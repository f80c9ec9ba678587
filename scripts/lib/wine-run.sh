#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (CTest's emulator for Windows tests).
# A 32-bit program on a host that cannot run one exits with the skip code and says why.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
loader=$(brindle_loader_for "$1") || exit
brindle_wine_prefix
exec "$loader" "$@"
