# Sourced by the main job and its end-to-end test: drives the control program's window on an X
# display with xdotool, through Dear ImGui's keyboard navigation (the program enables it), so
# nothing here depends on where the controls are drawn or in which colours. What a press did is
# for the caller to check (pictures in the frame ring, a connection at the simulator).
# Every wait here is bounded.

# The visible top-level window called exactly $1 once it shows its controls, waiting up to $2
# seconds. Prints its id. The window appears before the program's first frame (its fonts load
# in between), and keys sent before that frame are lost.
wd_find_window() {
  local title="$1" seconds="$2" i id="" shot
  shot=$(mktemp --suffix=.png)
  for i in $(seq 1 $((seconds * 5))); do
    [ -n "$id" ] || id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
    # Drawn: more than a handful of distinct colours (text is antialiased).
    if [ -n "$id" ] && wd_shot "$id" "$shot" && [ "$(convert "$shot" -format %k info: 2>/dev/null || echo 0)" -gt 16 ]; then
      rm -f "$shot"
      sleep 1
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  rm -f "$shot"
  return 1
}

wd_shot() {  # window id, PNG file
  import -silent -window "$1" "$2" 2>/dev/null
}

# Gives window $1 the keyboard and sends the keys that follow, one xdotool call each (several
# keys in one call lose some), with time between them for the window to take each one. Shift is
# held around its key on its own: pressed and released with it, it is sometimes missed.
wd_keys() {
  local id="$1" key
  shift
  xdotool windowfocus "$id" 2>/dev/null || return 1
  sleep 0.3
  for key in "$@"; do
    if [ "${key#shift+}" != "$key" ]; then
      xdotool keydown shift && sleep 0.3 && xdotool key "${key#shift+}" && sleep 0.3 && xdotool keyup shift || return 1
    else
      xdotool key "$key" || return 1
    fi
    sleep 0.6
  done
}

# Escape ends a text entry, then closes an open list, then drops the keyboard focus; from there
# Shift+Tab lands on the main window's last control, the big start/stop button.
WD_TO_BIG_BUTTON="Escape Escape Escape shift+Tab"

# Presses the big start/stop button.
wd_press_big_button() {
  # shellcheck disable=SC2086
  wd_keys "$1" $WD_TO_BIG_BUTTON space
}

# Chooses Wi-Fi in the transport list (the control before the big button while USB is chosen)
# and types $2 into the "manual IP" field of the phone list that then appears after it. The
# field must be the list's first control: no phone has been found. USB must be chosen and the
# stream stopped.
wd_choose_wifi() {
  local id="$1" address="$2"
  # shellcheck disable=SC2086
  wd_keys "$id" $WD_TO_BIG_BUTTON shift+Tab space Down space || return 1
  # Back on the transport list: Tab to the phone list, open it, Enter starts the entry.
  wd_keys "$id" Tab space Return || return 1
  xdotool type --delay 300 "$address"
  wd_keys "$id" Return Escape
}
