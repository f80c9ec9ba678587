# Sourced by the scripts that run Windows programs: the project's own Wine prefix, quiet,
# without the Mono and Gecko prompts, and the one place that knows how to start a program.
#   brindle_wine PROGRAM ARGS...  runs a Windows program, or a Wine tool (reg, regsvr32, cmd.exe)
#   brindle_winepath ARGS...       Wine's winepath
#   $brindle_wineserver            the Wine server
#   BRINDLE_WIN32 (yes/no), BRINDLE_WIN32_WHY: whether this host runs 32-bit programs, and why not
brindle_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export WINEPREFIX="${BRINDLE_WINEPREFIX:-$brindle_root/build/wineprefix}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64

# Debian's `wine` starts the 32-bit loader whenever wine32 is installed, and that loader cannot
# run at all on kernels without IA-32 emulation: 64-bit programs and Wine's own tools always go
# through the 64-bit loader and server directly.
brindle_wine64=/usr/lib/wine/wine64
brindle_wine32=/usr/lib/wine/wine
brindle_wineserver=/usr/lib/wine/wineserver64

# Decided once per run: the first script to source this exports the answer to the rest.
# BRINDLE_NO_WIN32=1 makes a host that can run 32-bit programs behave as one that cannot.
if [ -z "${BRINDLE_WIN32:-}" ]; then
  BRINDLE_WIN32=no
  if [ -n "${BRINDLE_NO_WIN32:-}" ]; then
    BRINDLE_WIN32_WHY="BRINDLE_NO_WIN32 is set"
  elif [ ! -x "$brindle_wine32" ]; then
    BRINDLE_WIN32_WHY="32-bit Wine is not installed"
  elif ! "$brindle_wine32" --version >/dev/null 2>&1; then
    BRINDLE_WIN32_WHY="this host cannot run 32-bit programs ($brindle_wine32 --version fails)"
  else
    BRINDLE_WIN32=yes
    BRINDLE_WIN32_WHY=""
  fi
  export BRINDLE_WIN32 BRINDLE_WIN32_WHY
fi

# With the 32-bit loader hidden, Wine itself must not find it either when a 64-bit program
# starts a 32-bit one: it looks for it beside WINELOADER, where it finds one that fails as an
# unsupported binary does.
if [ "$BRINDLE_WIN32" = no ] && [ -n "${BRINDLE_NO_WIN32:-}" ]; then
  _brindle_shim="$brindle_root/build/no-win32"
  if [ ! -x "$_brindle_shim/wine" ]; then
    mkdir -p "$_brindle_shim"
    ln -sf "$brindle_wine64" "$_brindle_shim/wine64"
    printf '#!/bin/sh\necho "$0: Exec format error (BRINDLE_NO_WIN32)" >&2\nexit 126\n' >"$_brindle_shim/wine"
    chmod +x "$_brindle_shim/wine"
  fi
  export WINELOADER="$_brindle_shim/wine64"
  brindle_wine64="$_brindle_shim/wine64"
fi

# The exit code of a 32-bit program on a host that cannot run it (CTest's SKIP_RETURN_CODE).
brindle_skip_code=77

# The machine field of a PE file's header: 8664 for x86-64, 014c for x86, empty otherwise.
brindle_pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] && od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

# The loader that runs PROGRAM (a file, or a Wine tool's name); for a 32-bit program on a host
# that cannot run one, says why and returns the skip code.
brindle_loader_for() {
  if [ -f "$1" ] && [ "$(brindle_pe_machine "$1")" = "014c" ]; then
    if [ "$BRINDLE_WIN32" != yes ]; then
      echo "skipped: $(basename "$1") is a 32-bit program and $BRINDLE_WIN32_WHY" >&2
      return "$brindle_skip_code"
    fi
    echo "$brindle_wine32"
    return 0
  fi
  echo "$brindle_wine64"
}

brindle_wine() {
  local loader
  loader=$(brindle_loader_for "$1") || return
  "$loader" "$@"
}

brindle_winepath() { "$brindle_wine64" winepath.exe "$@"; }

# Creates the prefix once; later calls find it ready.
brindle_wine_prefix() {
  # A prefix made while 32-bit programs could not run has no 32-bit system files, and 32-bit
  # programs fail in it with "could not load kernel32.dll": make it again where they can run.
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$BRINDLE_WIN32" = yes ] &&
     [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine: $WINEPREFIX was made without 32-bit Wine; making it again" >&2
    "$brindle_wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$brindle_wine64" wineboot -i >/dev/null 2>&1 || true
    "$brindle_wineserver" -w
  fi
  if [ ! -f "$WINEPREFIX/.brindle-configured" ]; then
    # A crashing test program must end, not wait in Wine's debugger holding its ports.
    "$brindle_wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d false /f \
      >/dev/null 2>&1 || true
    # Let that program's server end, so that a persistent one can start after it (bounded: a
    # persistent server someone else runs for the prefix never ends).
    timeout 15 "$brindle_wineserver" -w 2>/dev/null || true
    touch "$WINEPREFIX/.brindle-configured"
  fi
}
