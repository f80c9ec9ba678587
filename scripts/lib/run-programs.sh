# Sourced by the main job, the runs built on its chain and its end-to-end test: checks a run's
# settings and builds its programs, starts and stops them, each by the process id it got, and
# registers the camera for the run only. Every wait is bounded.

_run_pids=()
_run_registered=""
_run_sim_fd=""
_run_sim_pid=""
_run_mux_fd=""
_run_control_pid=""

_run_camera_key='HKCR\CLSID\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}'

# Exits 2 unless VALUE is a whole number from MIN to MAX; NAME is what the message calls it.
run_check_range() {
  local name="$1" value="$2" min="$3" max="$4"
  case "$value" in '' | *[!0-9]*) echo "$name must be a number"; exit 2 ;; esac
  [ "$value" -ge "$min" ] && [ "$value" -le "$max" ] || { echo "$name must be $min..$max"; exit 2; }
}

# Sets variable VAR to the environment's NAME, or DEFAULT where NAME is unset or empty, checked
# as run_check_range does.
run_env_setting() {
  local var="$1" name="$2" default="$3"
  local value="${!name:-$default}"
  run_check_range "$name" "$value" "$4" "$5"
  printf -v "$var" '%s' "$value"
}

# Sets the machine up and builds TARGET... in the Windows build tree (from the top of the tree),
# saying only what the build says.
run_build() {
  bash scripts/setup.sh >/dev/null
  cmake --preset windows >/dev/null
  cmake --build build/windows -j2 --target "$@"
}

# Registers the camera unless it already is; run_stop_all then unregisters it again, so the
# prefix is left as found.
run_register_camera() {
  local dll="$1"
  if brindle_wine reg query "$_run_camera_key" >/dev/null 2>&1; then
    echo "camera: already registered, left as it is"
    return 0
  fi
  if ! brindle_wine regsvr32 /s "$(brindle_winepath -w "$dll")"; then
    echo "camera: regsvr32 failed"
    return 1
  fi
  _run_registered="$dll"
  echo "camera: registered $(brindle_winepath -w "$dll")"
}

# Waits up to $2 seconds for the line matching $3 in file $1 while process $4 lives.
_run_wait_line() {
  local file="$1" seconds="$2" pattern="$3" pid="$4" i
  for i in $(seq 1 $((seconds * 10))); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Starts a Wine program whose input is a pipe held open here, and waits until its output ($2)
# shows the line $3; retried while its port is taken by someone else's run. $1 names it, the
# rest is the command. Sets _run_started_pid and _run_started_fd.
_run_start_with_input() {
  local what="$1" out="$2" ready="$3" attempt pid fd
  shift 3
  rm -f "$out.in"
  mkfifo "$out.in"
  for attempt in $(seq 1 15); do
    "$@" <"$out.in" >"$out" 2>&1 &
    pid=$!
    exec {fd}>"$out.in"
    if _run_wait_line "$out" 20 "$ready" "$pid"; then
      _run_pids+=("$pid")
      _run_started_pid=$pid
      _run_started_fd=$fd
      return 0
    fi
    exec {fd}>&-
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    echo "$what: could not start (attempt $attempt): $(tail -n 1 "$out")"
    sleep 2
  done
  return 1
}

# The simulator on 127.0.0.1:5555, streaming clip $3 for $4 seconds at most (default 280) and
# recording what it sent in $2/sent.log.
run_start_simulator() {
  local build="$1" out="$2" clip="$3" seconds="${4:-280}"
  _run_start_with_input simulator "$out/sim.out" "listening on" \
    brindle_wine "$build/tools/phone_sim/phone_sim.exe" --port 5555 --clip "$(brindle_winepath -w "$clip")" --seconds "$seconds" \
    --stop-on-input --sent "$(brindle_winepath -w "$out/sent.log")" || return 1
  _run_sim_pid=$_run_started_pid
  _run_sim_fd=$_run_started_fd
  echo "simulator: $(grep -m1 'listening on' "$out/sim.out")"
}

# Ends the simulator's input: it stops and writes the record of the pictures it sent.
run_stop_simulator() {
  [ -n "$_run_sim_fd" ] || return 0
  # A line rather than the end of input: programs started later hold the pipe open too.
  echo >&"$_run_sim_fd"
  exec {_run_sim_fd}>&-
  _run_sim_fd=""
  local i
  for i in $(seq 1 100); do
    kill -0 "$_run_sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$_run_sim_pid" 2>/dev/null
  wait "$_run_sim_pid" 2>/dev/null
}

# The USB mux emulator on 127.0.0.1:27015, tunnelling to the simulator.
run_start_usbmux() {
  local build="$1" out="$2"
  _run_start_with_input "usbmux emulator" "$out/usbmux.out" "press Enter" \
    brindle_wine "$build/tools/usbmux_emulator/usbmux_emulator.exe" || return 1
  _run_mux_fd=$_run_started_fd
  echo "usbmux emulator: up"
}

# The control program, its diagnostic lines in $2/control.out.
run_start_control() {
  local build="$1" out="$2"
  (cd "$build" && WINEDEBUG=-all,+debugstr exec "$brindle_root/scripts/lib/wine-run.sh" BrindleVideoControl.exe) >"$out/control.out" 2>&1 &
  _run_control_pid=$!
  _run_pids+=("$_run_control_pid")
}

# Waits up to $2 seconds for the ring to hold a picture.
run_wait_ring() {
  local build="$1" seconds="$2" i
  for i in $(seq 1 "$seconds"); do
    brindle_wine "$build/tools/ring_probe/ring_probe.exe" >/dev/null 2>&1 && return 0
    sleep 1
  done
  return 1
}

# Waits up to $2 seconds until no program holds the ring any more (ring_probe finds none).
run_wait_ring_gone() {
  local build="$1" seconds="$2" i
  for i in $(seq 1 "$seconds"); do
    brindle_wine "$build/tools/ring_probe/ring_probe.exe" >/dev/null 2>&1
    [ $? -eq 1 ] && return 0
    sleep 1
  done
  return 1
}

# Stops whatever this run started, by process id, and unregisters the camera if it registered it.
run_stop_all() {
  run_stop_simulator
  if [ -n "$_run_mux_fd" ]; then
    echo >&"$_run_mux_fd"
    exec {_run_mux_fd}>&-
    _run_mux_fd=""
  fi
  if [ -n "$_run_control_pid" ]; then kill "$_run_control_pid" 2>/dev/null; fi
  local pid i
  for pid in "${_run_pids[@]}"; do
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  _run_pids=()
  if [ -n "$_run_registered" ]; then
    brindle_wine regsvr32 /s /u "$(brindle_winepath -w "$_run_registered")" && echo "camera: unregistered"
    _run_registered=""
  fi
}
