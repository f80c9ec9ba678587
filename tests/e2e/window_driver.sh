# Sourced by the end-to-end test and the main job: drives the control program's window on an X
# display with xdotool, finding its controls by their colours in screenshots (imagemagick).
# Every wait here is bounded.

# Colours of the big button: start face, start hovered, stop face, stop hovered, stop pressed.
WD_START_COLOURS="rgb(43,92,229) rgb(58,110,245) rgb(35,78,200)"
WD_STOP_COLOURS="rgb(217,58,58) rgb(230,74,74) rgb(180,48,48)"
WD_FRAME_BG="rgb(23,26,33)"   # the combo boxes' face
WD_ROW_TO_BUTTON=28           # item spacing, the 8-pixel gap, item spacing
WD_POPUP_PADDING=14           # a list's popup: its items start this far below the face

# The visible top-level window called exactly $1, waiting up to $2 seconds. Prints its id.
wd_find_window() {
  local title="$1" seconds="$2" i id
  for i in $(seq 1 $((seconds * 5))); do
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

wd_shot() {  # window id, PNG file
  import -silent -window "$1" "$2" 2>/dev/null
}

# Rows (or columns) of a screenshot where more than the share $WD_SHARE (of 255; default half)
# of the pixels have one of the colours: prints "first last", or nothing. $1 file, $2 "rows" or
# "columns", $3 crop geometry or "", then the colours.
_wd_band() {
  local file="$1" axis="$2" crop="$3" share="${WD_SHARE:-127}"
  shift 3
  local args=() c
  for c in "$@"; do args+=(-fill white -opaque "$c"); done
  local scale
  local size
  size=$(convert "$file" ${crop:+-crop "$crop" +repage} -format "%w %h" info:)
  if [ "$axis" = rows ]; then scale="1x${size#* }!"; else scale="${size% *}x1!"; fi
  convert "$file" ${crop:+-crop "$crop" +repage} -alpha off "${args[@]}" -fill black +opaque white \
    -colorspace gray -scale "$scale" -depth 8 txt:- 2>/dev/null |
    awk -v axis="$axis" -v share="$share" '/^[0-9]/ {
        split($1, xy, "[,:]"); match($0, /: \([0-9]+/); v = substr($0, RSTART + 3, RLENGTH - 3) + 0;
        pos = (axis == "rows") ? xy[2] : xy[1];
        if (v > share) { if (first == "") first = pos; last = pos }
      } END { if (first != "") print first, last }'
}

# The big button in a screenshot: sets WD_BX WD_BY (top left), WD_BW WD_BH. $2: which face.
wd_find_button() {
  local file="$1" face="$2" colours rows cols
  if [ "$face" = start ]; then colours=$WD_START_COLOURS; else colours=$WD_STOP_COLOURS; fi
  # shellcheck disable=SC2086
  rows=$(_wd_band "$file" rows "" $colours)
  [ -n "$rows" ] || return 1
  local top=${rows% *} bottom=${rows#* }
  # shellcheck disable=SC2086
  cols=$(_wd_band "$file" columns "x$((bottom - top + 1))+0+$top" $colours)
  [ -n "$cols" ] || return 1
  WD_BX=${cols% *}
  WD_BW=$(( ${cols#* } - WD_BX + 1 ))
  WD_BY=$top
  WD_BH=$(( bottom - top + 1 ))
  [ "$WD_BH" -ge 36 ] && [ "$WD_BH" -le 56 ] && [ "$WD_BW" -ge 300 ]
}

wd_click() {  # window id, x, y (window coordinates)
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.1 click 1
}

# Presses the big button showing face $2 (start or stop) and waits, up to $3 seconds, for the
# other face. $4: a scratch PNG. Leaves the button's geometry in WD_B*.
wd_press_big_button() {
  local id="$1" face="$2" seconds="$3" shot="$4" other i
  if [ "$face" = start ]; then other=stop; else other=start; fi
  for i in $(seq 1 $((seconds * 2))); do
    wd_shot "$id" "$shot" && wd_find_button "$shot" "$face" && break
    sleep 0.5
  done
  wd_find_button "$shot" "$face" || { echo "window: no $face button found" >&2; return 1; }
  wd_click "$id" $((WD_BX + WD_BW / 2)) $((WD_BY + WD_BH / 2))
  for i in $(seq 1 $((seconds * 2))); do
    sleep 0.5
    wd_shot "$id" "$shot" && wd_find_button "$shot" "$other" && return 0
  done
  echo "window: the $face button did not turn into the $other button" >&2
  return 1
}

# The combo face on the row just above the big button: sets WD_CX (left), WD_CW, WD_CY (centre)
# and WD_FRAME_HEIGHT (the frame's height follows the font the program found).
wd_find_combo_above_button() {
  local file="$1" top=$((WD_BY - 50)) rows cols
  rows=$(WD_SHARE=40 _wd_band "$file" rows "x50+0+$top" "$WD_FRAME_BG")
  [ -n "$rows" ] || return 1
  WD_FRAME_HEIGHT=$(( ${rows#* } - ${rows% *} + 1 ))
  WD_CY=$(( top + (${rows% *} + ${rows#* }) / 2 ))
  cols=$(_wd_band "$file" columns "x$((WD_FRAME_HEIGHT - 4))+0+$((top + ${rows% *} + 2))" "$WD_FRAME_BG")
  [ -n "$cols" ] || return 1
  WD_CX=${cols% *}
  WD_CW=$(( ${cols#* } - WD_CX + 1 ))
}

# Chooses Wi-Fi in the transport list and types $2 into the "manual IP" field. USB must be
# chosen and the chain stopped. $3: a scratch PNG.
wd_choose_wifi() {
  local id="$1" address="$2" shot="$3" before
  wd_shot "$id" "$shot" && wd_find_button "$shot" start || return 1
  before=$WD_BY
  wd_find_combo_above_button "$shot" || { echo "window: no transport list found" >&2; return 1; }
  wd_click "$id" $((WD_CX + WD_CW / 2)) "$WD_CY"
  sleep 0.5
  # The list opens below its face: "USB", then "Wi-Fi" one row further down.
  local line=$((WD_FRAME_HEIGHT - 6))  # the font's line: the frame less its padding
  wd_click "$id" $((WD_CX + WD_CW / 2)) $((WD_CY + WD_FRAME_HEIGHT / 2 + WD_POPUP_PADDING + line + 10 + line / 2))
  sleep 0.5
  wd_shot "$id" "$shot" && wd_find_button "$shot" start || return 1
  if [ "$WD_BY" -le "$before" ]; then
    echo "window: choosing Wi-Fi did not add the phone row" >&2
    return 1
  fi
  wd_find_combo_above_button "$shot" || { echo "window: no phone list found" >&2; return 1; }
  wd_click "$id" $((WD_CX + 60)) "$WD_CY"
  sleep 0.5
  # The open list holds only the "manual IP" field (no phone found): click into it and type.
  wd_click "$id" $((WD_CX + 4 + 60)) $((WD_CY + WD_FRAME_HEIGHT + WD_POPUP_PADDING))
  sleep 0.3
  xdotool windowfocus "$id" 2>/dev/null || true
  xdotool type --delay 40 "$address"
  sleep 0.3
  xdotool key Return
  sleep 0.2
  # Close the list by clicking an empty spot beside the button's row.
  wd_click "$id" $((WD_BX + WD_BW - 5)) $((WD_BY - 5))
  sleep 0.5
}
