#!/usr/bin/env bash
# BrindleVideoSetup.exe under Wine, in fresh prefixes of its own (each with its own wineserver,
# stopped at the end). In a 64-bit prefix, one after another:
#   - a silent install: files, the camera's registry keys in both views, the Add/Remove Programs
#     entry, the Start menu shortcut; 64-bit and 32-bit capture programs find "Orvik" and a 32-bit
#     capture graph receives samples;
#   - with the control program running, an install and an uninstall are refused;
#   - a silent uninstall, waited for to its real end, leaves nothing and neither bitness finds
#     the camera;
#   - an install over an earlier version upgrades it in place;
#   - a failing registration, 64-bit or 32-bit, makes the install fail and leave nothing.
# The installer is a 64-bit program (32-bit Windows refuses it). Where the host cannot run 32-bit
# programs, the checks of the 32-bit half are skipped with a line saying so, and the installer
# leaves the 32-bit camera unregistered, as on Windows without its 32-bit subsystem.
#   installer_test.sh SETUP PREVIOUS_SETUP VERSION VIEWER_X64 VIEWER_X86 HELPER
# Needs an X display for the control program (Xvfb is started if none).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
if [ $# -ne 6 ]; then
  echo "usage: installer_test.sh SETUP PREVIOUS_SETUP VERSION VIEWER_X64 VIEWER_X86 HELPER"
  exit 2
fi
setup="$1" previous="$2" version="$3" viewer64="$4" viewer86="$5" helper="$6"

source "$root/scripts/lib/services.sh"
if [ -z "${DISPLAY:-}" ]; then
  services_start >/dev/null
  own_services=1
fi

work="$(mktemp -d /tmp/brindle-installer-XXXXXX)"
control_pid=""
cleanup() {
  [ -n "$control_pid" ] && kill "$control_pid" 2>/dev/null
  local p
  for p in "$work"/*/; do WINEPREFIX="${p%/}" "$brindle_wineserver" -k 2>/dev/null; done
  rm -rf "$work"
  [ -n "${own_services:-}" ] && services_stop
}
trap cleanup EXIT

# No Mono or Gecko prompts, and no Linux menu entries for the shortcut.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

failures=0
check() {  # description, then the command
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# The same for the 32-bit half: skipped, with a line, where the host cannot run 32-bit programs.
check32() {
  if [ "$BRINDLE_WIN32" = yes ]; then check "$@"; else echo "skipped: $1 ($BRINDLE_WIN32_WHY)"; fi
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# A new 64-bit prefix $work/$1, with a server that stays up until the end, used from then on.
make_prefix() {
  local start
  start=$(now)
  mkdir -p "$work/$1"
  export WINEPREFIX="$work/$1"
  "$brindle_wineserver" -p
  brindle_wine wineboot -i >/dev/null 2>&1
  echo "prefix $1: $(since "$start") s"
}

pf="C:\\Program Files\\Brindle Video"
camera_key='HKCR\CLSID\{9A8E4B2F-2D7C-4E47-8E5E-7F4C1A2B3C4D}'
mfcamera_key='HKCR\CLSID\{EFA3B694-F577-422B-BCE5-F3553CF9D409}'
camera_entry='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\Orvik'
uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entry="$uninstall_root\\BrindleVideo"
shortcut="ProgramData/Microsoft/Windows/Start Menu/Programs/Brindle Video.lnk"

unix_path() { local p="${1//\\//}"; echo "$WINEPREFIX/drive_c/${p#C:/}"; }
# The values of key $1 in registry view $2 (32 or 64), one "name<tab>data" line each.
reg_values() {
  brindle_wine reg query "$1" /reg:"$2" 2>/dev/null | tr -d '\r' | awk -F '    ' 'NF >= 4 { print $2 "\t" $4 }'
}
# The data of value $2 ("" for the default value) in such lines $1.
value() { printf '%s\n' "$1" | awk -F '\t' -v name="${2:-(Default)}" '$1 == name { print $2 }'; }
reg_value() { value "$(reg_values "$1" "$3")" "$2"; }
reg_has() { brindle_wine reg query "$1" /reg:"$2" >/dev/null 2>&1; }
reg_gone() { ! reg_has "$@"; }
is() { [ "$1" = "$2" ] || { echo "  \"$1\" is not \"$2\""; return 1; }; }
entries() {  # Add/Remove Programs entries named "Brindle Video" in both views
  local view n=0
  for view in 64 32; do
    n=$((n + $(brindle_wine reg query "$uninstall_root" /s /reg:$view 2>/dev/null | tr -d '\r' |
      grep -c -E '^    DisplayName    REG_SZ    Brindle Video$')))
  done
  echo "$n"
}
# Runs a capture program; its output is kept in $work/$1.log. Exit code as the program's.
capture() {
  local log="$work/$1.log"
  shift
  brindle_wine "$@" >"$log" 2>&1
  local rc=$?
  tr -d '\r' <"$log" | sed "s/^/  /"
  return $rc
}
run_uninstaller() {  # the entry's quiet command, then the wait for the copy that does the work
  local quiet exe
  quiet=$(reg_value "$entry" QuietUninstallString 64)
  [ -n "$quiet" ] || return 1
  exe="${quiet#\"}"
  exe="${exe%%\"*}"
  brindle_wine "$exe" /S || return 1
  brindle_wine "$helper" wait Un.exe 120
}

installed_in() {  # folder; everything a complete installation consists of
  local dir="$1" d
  d=$(unix_path "$dir")
  check "program, uninstaller and the three DLLs in $dir" \
    test -f "$d/BrindleVideoControl.exe" -a -f "$d/Uninstall.exe" -a -f "$d/x64/BrindleVideoVCam.dll" \
      -a -f "$d/x86/BrindleVideoVCam.dll" -a -f "$d/x64/BrindleVideoMFCam.dll"
  check "every locale file" is "$(ls "$d/locales" | wc -l)" "$(ls "$root/locales"/*.json | wc -l)"
  check "64-bit view: the server is the x64 DLL" \
    is "$(reg_value "$camera_key\\InprocServer32" "" 64)" "$dir\\x64\\BrindleVideoVCam.dll"
  check "Media Foundation camera: the server is its x64 DLL" \
    is "$(reg_value "$mfcamera_key\\InprocServer32" "" 64)" "$dir\\x64\\BrindleVideoMFCam.dll"
  check32 "32-bit view: the server is the x86 DLL" \
    is "$(reg_value "$camera_key\\InprocServer32" "" 32)" "$dir\\x86\\BrindleVideoVCam.dll"
  check "camera entry in the 64-bit view" reg_has "$camera_entry" 64
  check32 "camera entry in the 32-bit view" reg_has "$camera_entry" 32
  check "one Add/Remove Programs entry" is "$(entries)" 1
  local values size
  values=$(reg_values "$entry" 64)
  check "entry: name" is "$(value "$values" DisplayName)" "Brindle Video"
  check "entry: version" is "$(value "$values" DisplayVersion)" "$version"
  check "entry: publisher" is "$(value "$values" Publisher)" "Brindle Video"
  check "entry: location" is "$(value "$values" InstallLocation)" "$dir"
  check "entry: uninstall command" is "$(value "$values" UninstallString)" "\"$dir\\Uninstall.exe\""
  check "entry: quiet uninstall command" is "$(value "$values" QuietUninstallString)" "\"$dir\\Uninstall.exe\" /S"
  size=$(value "$values" EstimatedSize)
  check "entry: size ($((size)) KB)" test "$((size))" -gt 1000
  check "Start menu shortcut" test -f "$WINEPREFIX/drive_c/$shortcut"
  check "a 64-bit process finds the camera and captures" capture list64 "$viewer64" --samples 3 --seconds 30
  check32 "a 32-bit process finds the camera and its graph receives samples" \
    capture capture86 "$viewer86" --samples 30 --seconds 60
}

nothing_left() {  # folder
  check "no folder $1" test ! -e "$(unix_path "$1")"
  check "no camera keys in the 64-bit view" reg_gone "$camera_key" 64
  check "no camera keys in the 32-bit view" reg_gone "$camera_key" 32
  check "no Media Foundation camera keys" reg_gone "$mfcamera_key" 64
  check "no camera entries in either view" eval 'reg_gone "$camera_entry" 64 && reg_gone "$camera_entry" 32'
  check "no Add/Remove Programs entry" is "$(entries)" 0
  check "no Start menu shortcut" test ! -e "$WINEPREFIX/drive_c/$shortcut"
  capture gone64 "$viewer64" --samples 1 --seconds 10
  check "a 64-bit process finds no camera" is $? 1
  if [ "$BRINDLE_WIN32" = yes ]; then
    capture gone86 "$viewer86" --samples 1 --seconds 10
    check "a 32-bit process finds no camera" is $? 1
  fi
}

check "the installer is a 64-bit program" is "$(brindle_pe_machine "$setup")" 8664
make_prefix win64

echo "== silent install"
start=$(now)
brindle_wine "$setup" /S
check "the installer succeeds" is $? 0
echo "install: $(since "$start") s"
installed_in "$pf"

echo "== the control program is running"
brindle_wine "$pf\\BrindleVideoControl.exe" >"$work/control.log" 2>&1 &
control_pid=$!
# A search fails now and then on its own (a window of Wine's going away while it is read), so
# the window counts as open once any search within the 30 s found it.
window=1
for i in $(seq 1 300); do
  xdotool search --name '^Orvik$' >/dev/null 2>&1 && window=0 && break
  sleep 0.1
done
check "its window is open" test "$window" -eq 0
brindle_wine "$setup" /S
check "an install over it is refused" is $? 4
run_uninstaller
check "an uninstall is refused" test -f "$(unix_path "$pf")/BrindleVideoControl.exe" -a "$(entries)" = 1
check "the camera is still registered" reg_has "$camera_entry" 32
check "the user closes the program" brindle_wine "$helper" close BrindleVideoWindow 30
wait "$control_pid"
control_pid=""

echo "== silent uninstall"
start=$(now)
check "the uninstaller ran" run_uninstaller
echo "uninstall: $(since "$start") s"
nothing_left "$pf"

echo "== upgrade over an earlier version"
brindle_wine "$previous" /S /D=C:\\BrindleOld
check "the earlier version installs" is $? 0
check "earlier version: version" is "$(reg_value "$entry" DisplayVersion 64)" "0.9.0"
start=$(now)
brindle_wine "$setup" /S
check "the upgrade succeeds" is $? 0
echo "upgrade: $(since "$start") s"
check "in place: nothing in Program Files" test ! -e "$(unix_path "$pf")"
installed_in "C:\\BrindleOld"
check "the uninstaller ran" run_uninstaller
nothing_left "C:\\BrindleOld"

echo "== a failed registration"
# A regsvr32 that fails: a viewer of that bitness, which rejects regsvr32's arguments.
if [ "$BRINDLE_WIN32" = yes ]; then
  cp "$viewer86" "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe"
  brindle_wine "$setup" /S
  check "32-bit: the installer reports failure" is $? 5
  nothing_left "$pf"
else
  echo "skipped: a failing 32-bit registration ($BRINDLE_WIN32_WHY)"
fi
# Wine prefers its own regsvr32 to a file of that name, unless told otherwise.
cp "$viewer64" "$WINEPREFIX/drive_c/windows/system32/regsvr32.exe"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;regsvr32.exe=n" brindle_wine "$setup" /S
check "64-bit: the installer reports failure" is $? 5
nothing_left "$pf"

echo "installer tests: $failures failed"
[ "$failures" -eq 0 ]
