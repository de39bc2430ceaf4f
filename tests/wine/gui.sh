#!/usr/bin/env bash
# quorlan.exe under Wine as a Windows user meets it, against simulators on COM ports: the picker listing the ports as Windows reports them, the handshake at start-up on COM1, a write
# and a read from the menu, the state window polling; at 100 % and at 150 % display scaling.
# Screenshots go to WORK/ (and, with --docs, to docs/ for the README).
#
# Usage: tests/wine/gui.sh BUILD [--docs]
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$1" && pwd)
DOCS=${2:-}
SIM=${SIM:-$ROOT/build/default/korvel-sim}
. "$ROOT/tests/wine/common.sh"
trap cleanup_wine EXIT
EXE="$BUILD/deploy/quorlan.exe"
W=1920 H=1080

echo "quorlan.exe under Wine"
fresh_prefix || exit 1
build_shim || exit 1
start_sim 1 --baud-pace
start_sim 3
start_sim 12
new_session
start_xvfb ${W}x${H}x24 || exit 1

# wait_for SECONDS FILE TEXT: until the simulator's log shows TEXT.
wait_for() {
  local i
  for i in $(seq $(($1 * 10))); do grep -qF -- "$3" "$2" && return 0; sleep 0.1; done
  return 1
}
# shot NAME: the desktop, trimmed to the windows on it; BOX_X and BOX_Y say where they begin.
shot() {
  import -window root "$WORK/$1.png" 2>/dev/null
  local box
  box=$(convert "$WORK/$1.png" -fuzz 3% -format '%@' info:)
  BOX_X=$(sed -E 's/.*\+([0-9]+)\+([0-9]+)$/\1/' <<<"$box")
  BOX_Y=$(sed -E 's/.*\+([0-9]+)\+([0-9]+)$/\2/' <<<"$box")
  convert "$WORK/$1.png" -fuzz 3% -trim +repage "$WORK/$1.png"
  [ -n "$DOCS" ] && cp "$WORK/$1.png" "$ROOT/docs/$1.png"
  return 0
}
menu() { xdotool key --clearmodifiers alt; sleep 0.4; xdotool key "$@"; }
count() { grep -cF -- "$1" "$2"; }
LOG1=$WORK/sim-COM1.log

# Wine's desktop in a window of its own draws the frames and captions Windows would; the
# window opens COM1, the first port of the list, while its splash shows.
(cd "$WINEPREFIX/drive_c" && wine_run explorer /desktop=Quorlan,${W}x${H} "$EXE" >"$WORK/gui.log" 2>&1 &)
check "handshake on COM1 at start-up"     wait_for 60 "$LOG1" "< PC_OK"
sleep 1
shot windows-connected
# The picker: the first port is COM1; its list shows what the system's registry lists. Its
# field takes the click, Alt+Down opens the list.
xdotool mousemove $((BOX_X + 530)) $((BOX_Y + 340)) click 1; sleep 0.5
xdotool key alt+Down; sleep 1
shot windows-picker
xdotool key Escape; sleep 0.5
check "the picker still on COM1, nothing reopened" test "$(count '< BYE' "$LOG1")" = 1

menu Right Down Return                   # Обмен с контроллером › Сохранить конфигурацию
check "the write starts"                  wait_for 20 "$LOG1" "> SAVE"
sleep 4
shot windows-write-in-progress
check "the controller confirms the write" wait_for 90 "$LOG1" "> SAVE_OK"
sleep 1
menu Right Down Down Return              # Считать конфигурацию
check "the read completes"                wait_for 60 "$LOG1" "> LOAD_OK"
sleep 5                                  # the image is applied to the editor
menu Right Down Down Down Down Return    # Текущее состояние и управление
sleep 3
shot windows-state-window
polls=$(count "< STATUS" "$LOG1")
# The state window opens over the main window; the box begins at its left and the main window's top.
xdotool mousemove $((BOX_X + 187)) $((BOX_Y + 587)) click 1   # Автообновление
sleep 8
check "the state window polls"            test "$(count "< STATUS" "$LOG1")" -ge $((polls + 3))
box_x=$BOX_X box_y=$BOX_Y
shot windows-state-window
BOX_X=$box_x BOX_Y=$box_y
xdotool mousemove $((BOX_X + 300)) $((BOX_Y + 587)) click 1   # Остановить
sleep 1
wineserver -k 2>/dev/null; sleep 1

# 150 % scaling: Windows tells programs 144 dpi; Qt scales its windows by it. A laptop's
# 1920 x 1080 screen.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
wineserver -k 2>/dev/null; sleep 1
before=$(count "< PC_OK" "$LOG1")
(cd "$WINEPREFIX/drive_c" && wine_run explorer /desktop=Quorlan,${W}x${H} "$EXE" >>"$WORK/gui.log" 2>&1 &)
for _ in $(seq 600); do [ "$(count "< PC_OK" "$LOG1")" -gt "$before" ] && break; sleep 0.1; done
check "handshake at 150 %"                test "$(count "< PC_OK" "$LOG1")" -gt "$before"
sleep 1
shot windows-150-percent
wineserver -k 2>/dev/null

echo "  screenshots: $WORK/windows-*.png"
echo "gui: $CHECKS_PASSED passed, $CHECKS_FAILED failed"
[ "$CHECKS_FAILED" -eq 0 ]
