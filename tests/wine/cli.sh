#!/usr/bin/env bash
# quorlan-cli.exe under Wine against simulators on COM ports, as a technician on Windows runs it:
# info, read, check, dump, set, diff, write with verify and backup, time; four ports at once; a
# silent port, a refused byte, a device gone mid-write. Exit codes and texts as on Linux, and
# Russian text that reaches a console readable.
#
# Usage: tests/wine/cli.sh BUILD   (the cross build folder; BUILD/deploy holds the programs)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$1" && pwd)
SIM=${SIM:-$ROOT/build/default/korvel-sim}
. "$ROOT/tests/wine/common.sh"
trap cleanup_wine EXIT
CLI="$BUILD/deploy/quorlan-cli.exe"
LOG=$WORK/cli-session.txt

echo "quorlan-cli.exe under Wine"
fresh_prefix
build_shim || exit 1
start_sim 5
start_sim 6 --baud-pace
start_sim 7 --baud-pace
start_sim 8 --baud-pace
start_sim 10 --baud-pace        # COM10 and above are \\.\COM10 to Windows
start_sim 11 --silent
start_sim 12 --refuse-byte 100
start_sim 13 --fault vanish:SAVE:1500
new_session

# A folder and a file name in Cyrillic with a space, under the Windows user's profile.
DIR_WIN='C:\Конфигурации'
DIR_UNIX="$WINEPREFIX/drive_c/Конфигурации"
mkdir -p "$DIR_UNIX"
: >"$LOG"

# cli EXPECTED_EXIT ARGS...: runs the program, records the session, checks the exit code.
# Output lands in $OUT (standard output and error as the console shows them).
cli() {
  local want=$1; shift
  local t0=$(date +%s.%N)
  OUT=$(cd "$DIR_UNIX" && wine_run "$CLI" "$@" 2>&1 </dev/null)
  RC=$?
  local t=$(echo "$(date +%s.%N) - $t0" | bc)
  printf '> quorlan-cli.exe %s\n%s\n[exit %d, %.1f s]\n' "$*" "$OUT" "$RC" "$t" >>"$LOG"
  [ "$RC" -eq "$want" ] || { echo "    exit $RC, wanted $want: $OUT" >&2; return 1; }
}
has() { grep -qF -- "$1" <<<"$OUT" || { echo "    no \"$1\" in: $OUT" >&2; return 1; }; }

check "info prints version, key and ids"      eval 'cli 0 info --port COM5 && has "Версия: 2.10" && has "Мастер ключ: " && has "Датчик 8: "'
check "read into a Cyrillic folder and name"  eval "cli 0 read --port COM5 -o '$DIR_WIN\\объект 7.cfg' && has 'COM5: считано'"
check "the file read is 4123 bytes"           test "$(stat -c %s "$DIR_UNIX/объект 7.cfg" 2>/dev/null)" = 4123
check "check"                                 eval "cli 0 check 'объект 7.cfg' && has 'конфигурация в порядке (4123 байта'"
check "dump: 1394 settings"                   eval "cli 0 dump 'объект 7.cfg' && test \"\$(grep -c ' = ' <<<\"\$OUT\")\" = 1394"
check "set writes a changed copy"             eval "cli 0 set 'объект 7.cfg' 'Общие установки › Название объекта (ID)=Склад 7' 'Общие установки › Разрешенные номера › Абонент 1=+79161234567' -o unit7.cfg"
check "set refuses a bad number, writes nothing" eval "cli 2 set 'объект 7.cfg' 'Общие установки › Разрешенные номера › Абонент 2=8-916-123' -o bad.cfg && has 'недопустимый символ \"-\"' && test ! -e '$DIR_UNIX/bad.cfg'"
check "diff names what changed"               eval "cli 1 diff 'объект 7.cfg' unit7.cfg && has 'Название объекта (ID) = Объект 1 → Склад 7'"
check "write with verify and backup"          eval "cli 0 write --port COM5 unit7.cfg --verify --backup 'до записи.cfg' && has 'COM5: записано и проверено' && has 'копия: до записи.cfg'"
check "the simulator confirmed the write"     grep -q 'SAVE_OK' "$WORK/sim-COM5.log"
check "the backup holds what was there"       cmp -s "$DIR_UNIX/до записи.cfg" "$DIR_UNIX/объект 7.cfg"
check "read back equals what was written"     eval "cli 0 read --port COM5 -o back.cfg && cmp -s '$DIR_UNIX/back.cfg' '$DIR_UNIX/unit7.cfg'"
check "time"                                  eval 'cli 0 time --port COM5 && has "COM5: время установлено"'
check "a port the system does not list"       eval 'cli 1 info --port COM77 --wait 2 && has "COM77"'
check "four paced ports at once"              eval "cli 0 write --port COM6 --port COM7 --port COM8 --port COM10 unit7.cfg --verify && for p in COM6 COM7 COM8 COM10; do has \"\$p: записано и проверено\" || exit 1; done"
FOUR="$OUT"
check "one paced port alone"                  eval "cli 0 write --port COM6 unit7.cfg --verify && has 'COM6: записано и проверено'"
ONE="$OUT"
check "a silent controller"                   eval 'cli 1 write --port COM11 unit7.cfg && has "COM11: ошибка: контроллер не ответил"'
check "a refused byte"                        eval 'cli 1 write --port COM12 unit7.cfg && has "COM12: ошибка: контроллер отклонил байт"'
check "a device gone mid-write"               eval 'cli 1 write --port COM13 unit7.cfg && has "COM13: ошибка"'
check "the silent port does not hold the others" eval "cli 1 write --port COM5 --port COM11 unit7.cfg --verify && has 'COM5: записано и проверено' && has 'COM11: ошибка: контроллер не ответил'"

# Piped output is UTF-8; on a console the text goes through the console's own calls. tmux
# gives Wine a terminal, so its console shows what a Windows console would draw.
check "piped output is UTF-8 Russian"         eval 'cli 0 check "объект 7.cfg" && iconv -f UTF-8 -t UTF-8 <<<"$OUT" >/dev/null && has "конфигурация в порядке"'
if command -v tmux >/dev/null; then
  tmux kill-session -t qcli 2>/dev/null
  tmux new-session -d -s qcli -x 160 -y 20 "cd '$DIR_UNIX' && LANG=C.UTF-8 LD_PRELOAD='$SHIM' wine '$CLI' check 'объект 7.cfg'; sleep 5"
  sleep 3
  SCREEN=$(tmux capture-pane -p -t qcli)
  tmux kill-session -t qcli 2>/dev/null
  printf '> (console) quorlan-cli.exe check\n%s\n' "$SCREEN" >>"$LOG"
  check "a console shows the Russian text"    grep -qF 'конфигурация в порядке (4123 байта' <<<"$SCREEN"
fi

echo "  four ports: $(grep -o '(.* с)' <<<"$FOUR" | tr '\n' ' ')  one port: $(grep -o '(.* с)' <<<"$ONE")"
echo "  session: $LOG"
echo "cli: $CHECKS_PASSED passed, $CHECKS_FAILED failed"
[ "$CHECKS_FAILED" -eq 0 ]
