# Sourced by the scripts that run Windows programs: the project's own Wine prefix, quiet,
# without the Mono and Gecko prompts.
brindle_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${BRINDLE_WINEPREFIX:-$brindle_root/build/wineprefix}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64

# Creates the prefix once; later calls find it ready.
brindle_wine_prefix() {
  # A prefix made before wine32 was installed has no 32-bit system files, and 32-bit programs
  # fail in it with "could not load kernel32.dll": make it again.
  if [ -f "$WINEPREFIX/system.reg" ] && [ -e /usr/lib/wine/wine ] &&
     [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine: $WINEPREFIX was made without 32-bit Wine; making it again" >&2
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  if [ ! -f "$WINEPREFIX/.brindle-configured" ]; then
    # A crashing test program must end, not wait in Wine's debugger holding its ports.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d false /f \
      >/dev/null 2>&1 || true
    # Let that program's server end, so that a persistent one can start after it (bounded: a
    # persistent server someone else runs for the prefix never ends).
    timeout 15 wineserver -w 2>/dev/null || true
    touch "$WINEPREFIX/.brindle-configured"
  fi
}
