# Sourced by the end-to-end test and the main job: starts and stops the programs of a run, each
# by the process id it got, and registers the camera for the run only. Every wait is bounded.

_e2e_pids=()
_e2e_registered=""
_e2e_sim_fd=""
_e2e_mux_fd=""

_e2e_camera_key='HKCR\CLSID\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}'

# Registers the camera unless it already is; e2e_stop_all then unregisters it again, so the
# prefix is left as found.
e2e_register_camera() {
  local dll="$1"
  if wine reg query "$_e2e_camera_key" >/dev/null 2>&1; then
    echo "camera: already registered, left as it is"
    return 0
  fi
  if ! wine regsvr32 /s "$(winepath -w "$dll")"; then
    echo "camera: regsvr32 failed"
    return 1
  fi
  _e2e_registered="$dll"
  echo "camera: registered $(winepath -w "$dll")"
}

# Waits up to $2 seconds for the line matching $3 in file $1 while process $4 lives.
_e2e_wait_line() {
  local file="$1" seconds="$2" pattern="$3" pid="$4" i
  for i in $(seq 1 $((seconds * 10))); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# The simulator on 127.0.0.1:5555; retried while the port is taken by someone else's run.
e2e_start_simulator() {
  local build="$1" out="$2" clip="$3" attempt pid
  rm -f "$out/sim.in"
  mkfifo "$out/sim.in"
  for attempt in $(seq 1 15); do
    wine "$build/tests/e2e/e2e_phone_sim.exe" --port 5555 --clip "$(winepath -w "$clip")" --seconds 280 \
      --sent "$(winepath -w "$out/sent.log")" <"$out/sim.in" >"$out/sim.out" 2>&1 &
    pid=$!
    exec {_e2e_sim_fd}>"$out/sim.in"
    if _e2e_wait_line "$out/sim.out" 20 "listening on" "$pid"; then
      _e2e_pids+=("$pid")
      _e2e_sim_pid=$pid
      echo "simulator: $(grep -m1 'listening on' "$out/sim.out")"
      return 0
    fi
    exec {_e2e_sim_fd}>&-
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "simulator: could not start (attempt $attempt): $(tail -n 1 "$out/sim.out")"
    sleep 2
  done
  return 1
}

# Ends the simulator's input: it stops and writes the record of the pictures it sent.
e2e_stop_simulator() {
  [ -n "$_e2e_sim_fd" ] || return 0
  # A line rather than the end of input: programs started later hold the pipe open too.
  echo >&"$_e2e_sim_fd"
  exec {_e2e_sim_fd}>&-
  _e2e_sim_fd=""
  local i
  for i in $(seq 1 100); do
    kill -0 "$_e2e_sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$_e2e_sim_pid" 2>/dev/null
  wait "$_e2e_sim_pid" 2>/dev/null
}

# The USB mux emulator on 127.0.0.1:27015, tunnelling to the simulator.
e2e_start_usbmux() {
  local build="$1" out="$2" attempt pid
  rm -f "$out/mux.in"
  mkfifo "$out/mux.in"
  for attempt in $(seq 1 15); do
    wine "$build/tools/usbmux_emulator/usbmux_emulator.exe" <"$out/mux.in" >"$out/usbmux.out" 2>&1 &
    pid=$!
    exec {_e2e_mux_fd}>"$out/mux.in"
    if _e2e_wait_line "$out/usbmux.out" 20 "press Enter" "$pid"; then
      _e2e_pids+=("$pid")
      _e2e_mux_pid=$pid
      echo "usbmux emulator: up"
      return 0
    fi
    exec {_e2e_mux_fd}>&-
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "usbmux emulator: could not start (attempt $attempt): $(tail -n 1 "$out/usbmux.out")"
    sleep 2
  done
  return 1
}

e2e_start_control() {
  local build="$1" out="$2"
  (cd "$build" && exec wine BrindleVideoControl.exe) >"$out/control.out" 2>&1 &
  _e2e_control_pid=$!
  _e2e_pids+=("$_e2e_control_pid")
}

# Waits up to $2 seconds for the ring to hold a picture.
e2e_wait_ring() {
  local build="$1" seconds="$2" i
  for i in $(seq 1 "$seconds"); do
    wine "$build/tools/ring_probe/ring_probe.exe" >/dev/null 2>&1 && return 0
    sleep 1
  done
  return 1
}

# Stops whatever this run started, by process id, and unregisters the camera if it registered it.
e2e_stop_all() {
  e2e_stop_simulator
  if [ -n "$_e2e_mux_fd" ]; then
    echo >&"$_e2e_mux_fd"
    exec {_e2e_mux_fd}>&-
    _e2e_mux_fd=""
  fi
  if [ -n "${_e2e_control_pid:-}" ]; then kill "$_e2e_control_pid" 2>/dev/null; fi
  local pid i
  for pid in "${_e2e_pids[@]}"; do
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  _e2e_pids=()
  if [ -n "$_e2e_registered" ]; then
    wine regsvr32 /s /u "$(winepath -w "$_e2e_registered")" && echo "camera: unregistered"
    _e2e_registered=""
  fi
}
