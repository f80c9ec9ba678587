# Sourced by the test and demo scripts: starts what the Windows tests need and stops it again.
#   services_start  - a persistent wineserver for the project's prefix, Xvfb (Direct3D, windows),
#                     and a PulseAudio server with a null sink (WASAPI) unless one already runs
#   services_stop   - stops what services_start started, and nothing else
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

_brindle_started_xvfb=""
_brindle_started_wineserver=""
_brindle_started_pulse=""

services_start() {
  # Xvfb first: Wine's desktop process starts with the first Wine program and keeps the
  # display it found then, so Direct3D works only if DISPLAY is set before it. Tall enough for
  # the control program's window at 144 DPI (1.5 times 760 pixels).
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  _brindle_started_xvfb=$!
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done

  brindle_wine_prefix
  # One persistent server for the whole run. A server already running for the prefix (another
  # run's) is shared instead, and left running by services_stop.
  if "$brindle_wineserver" -p 2>/dev/null; then _brindle_started_wineserver=1; fi
  # Wine's own background processes start with the first program; start them here, detached
  # from any output pipe, so that no test's pipe stays open after the test ends.
  brindle_wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true

  if ! pactl info >/dev/null 2>&1; then
    pulseaudio --daemonize=yes --exit-idle-time=-1 --log-target=syslog >/dev/null 2>&1 || true
    for i in $(seq 1 50); do
      pactl info >/dev/null 2>&1 && break
      sleep 0.1
    done
    _brindle_started_pulse=1
  fi
  echo "services: wineserver for $WINEPREFIX, Xvfb on $DISPLAY, PulseAudio $(pactl info >/dev/null 2>&1 && echo up || echo unavailable)"
  if [ "$BRINDLE_WIN32" = yes ]; then
    echo "services: 32-bit programs run on this host"
  else
    echo "services: 32-bit programs do not run here ($BRINDLE_WIN32_WHY): their tests are skipped"
  fi
}

services_stop() {
  if [ -n "$_brindle_started_wineserver" ]; then "$brindle_wineserver" -k 2>/dev/null || true; fi
  if [ -n "$_brindle_started_xvfb" ]; then
    kill "$_brindle_started_xvfb" 2>/dev/null || true
    wait "$_brindle_started_xvfb" 2>/dev/null || true
  fi
  if [ -n "$_brindle_started_pulse" ]; then
    pulseaudio -k 2>/dev/null || true
  fi
  _brindle_started_xvfb=""
  _brindle_started_wineserver=""
  _brindle_started_pulse=""
}
