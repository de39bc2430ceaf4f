#!/usr/bin/env bash
# The Windows installer and the portable archive under Wine, in a prefix of their own:
#   1. a silent installation with the defaults: the files, the Start-menu entry, the entry in
#      Windows' list of programs, no PATH change, no .cfg association; the installed programs run
#      (quorlan-cli --help and check, the window under Xvfb with a screenshot); the silent
#      uninstaller leaves the registry and the disk as they were;
#   2. with /PATH=1 /CFG=1: quorlan-cli runs by name from a console, a .cfg file opened through
#      the shell opens in the window (a cut one gets the window's error box), an update without
#      options keeps both, and the uninstaller takes both away without a trace;
#   3. the same over a long PATH (beyond the installer's 1024-character strings) and a .cfg that
#      belongs to another program: PATH gets one entry appended and then exactly its old value
#      back, .cfg goes back to the other program with its values;
#   4. a wrong option value stops the installer before anything is installed; started without
#      /S, the installer's window is Russian;
#   5. the ZIP holds the same folder as the installer, and runs from where it is unpacked.
#
# Usage: tests/wine/installer.sh BUILD   (the cross build folder, after cpack -G "NSIS;ZIP")
# The Wine session runs where no serial device is visible (tests/noports.sh). Needs wine64,
# Xvfb, xdotool, ImageMagick, unzip.
set -uo pipefail
export LC_ALL=C.UTF-8
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:?usage: installer.sh BUILD}" && pwd)

# Wine maps every serial device it finds to a COM port: run where none is visible.
if ls /dev | grep -qE '^tty(S|USB|ACM)[0-9]'; then
  exec "$ROOT/tests/noports.sh" "$0" "$@"
fi

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
SETUP=$BUILD/quorlan-$VERSION-win64.exe
ZIP=$BUILD/quorlan-$VERSION-win64.zip
WORK=$BUILD/wine-installer
. "$ROOT/tests/wine/common.sh"
# No menu entries or MIME types written into this machine's home.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
C=$WINEPREFIX/drive_c
INSTDIR_WIN='C:\Program Files\Quorlan'
INSTDIR=$C/"Program Files/Quorlan"
STARTMENU=$C/ProgramData/Microsoft/Windows/"Start Menu"/Programs
UNINST_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorlan'
ENV_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
say() { echo "    $*" >&2; }
trap cleanup_wine EXIT

# reg_value KEY NAME: the value's data as reg query prints it (NAME "" for the default value).
# reg query prints what is not ASCII as "?": the values compared here are ASCII.
reg_value() {
  local which=(/v "$2")
  [ -z "$2" ] && which=(/ve)
  wine reg query "$1" "${which[@]}" 2>/dev/null | tr -d '\r' |
    awk -v n="${2:-(Default)}" '
      { line = $0; sub(/^    /, "", line) }
      tolower(substr(line, 1, length(n) + 4)) == tolower(n "    ") {
        rest = substr(line, length(n) + 5); sub(/^REG_[A-Z_]+/, "", rest); sub(/^    /, "", rest)
        print rest; found = 1; exit
      }
      END { exit !found }'
}
reg_type() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -o 'REG_[A-Z_]*' | head -1; }
has_key() { wine reg query "$1" >/dev/null 2>&1; }
is() { [ "$1" = "$2" ] || { say "\"$1\", wanted \"$2\""; return 1; }; }

# Everything the registry and the disk hold, for comparing before and after.
snapshot() {
  local hive
  for hive in HKLM HKCU; do
    wine reg export $hive "$WORK/$1.reg" /y >/dev/null 2>&1
    # Left out: what Wine itself rewrites at every start (driver dates, the display devices it
    # registers again for each session with a window) and its console's settings, which it saves
    # the first time it opens a console window (for its crash debugger, say).
    iconv -f UTF-16 -t UTF-8 "$WORK/$1.reg" | tr -d '\r' | grep -v '^"DriverDate' |
      awk '/^\[/ { skip = /\\Enum\\DISPLAY\\|\\Control\\Class\\\{4D36E96[8E]-|^\[HKEY_CURRENT_USER\\Console(\\|\])/ } !skip' \
      >"$WORK/$1-$hive.txt"
  done
  rm -f "$WORK/$1.reg"
  wineserver -w
  (cd "$C" && find . -path ./windows -prune -o -path './users/*/AppData/Local/Temp' -prune \
     -o -path './users/*/Temp' -prune -o -print | sort) >"$WORK/$1-files.txt"
}
same_as() {
  local rc=0 part
  for part in HKLM HKCU files; do
    if ! diff -q "$WORK/$1-$part.txt" "$WORK/$2-$part.txt" >/dev/null; then
      say "$part differs:"
      diff "$WORK/$1-$part.txt" "$WORK/$2-$part.txt" | head -20 >&2
      rc=1
    fi
  done
  return $rc
}


windows_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
# wait_window REGEX SECONDS: until a visible window's title matches.
wait_window() {
  local i
  for i in $(seq $(($2 * 5))); do windows_named "$1" >/dev/null && return 0; sleep 0.2; done
  return 1
}
# The window up: the splash, then the main window, with no message on the way (this /dev has no
# port, so the window opens none).
main_window_up() {
  wait_window '^Quorlan v\.' 60 || return 1
  windows_named '^Ошибка' >/dev/null && { say "a message box came up"; return 1; }
  return 0
}
# The main window up, whatever else is shown.
window_up() { wait_window '^Quorlan v\.' 60; }
# After the main window: the number of error boxes that come within a few seconds.
boxes_after_start() {
  sleep 5
  windows_named '^Ошибка' | wc -l
}
# launch FOLDER PROGRAM ARGS...: a Windows program in the background, started in FOLDER.
launch() { (cd "$1" && shift && exec wine "$@") </dev/null >/dev/null 2>&1 & disown; }

# cli PROGRAM ARGS...: a console program's output (both streams) in OUT, its exit code in RC.
cli() { OUT=$(cd "$WORK" && wine "$@" 2>&1 </dev/null); RC=$?; OUT=$(tr -d '\r' <<<"$OUT"); }

echo "Installer and archive under Wine: $(basename "$SETUP"), $(basename "$ZIP")"
[ -f "$SETUP" ] && [ -f "$ZIP" ] || { echo "no installer or archive in $BUILD (cpack -G \"NSIS;ZIP\")" >&2; exit 1; }
fresh_prefix
start_xvfb || exit 1
GOOD=$C/good.cfg
BAD=$C/bad.cfg
cp "$ROOT/fuzz/corpus/fuzz_codec/default-image" "$GOOD"
head -c 1000 "$GOOD" >"$BAD"

# What Wine writes the first time a console or a window opens in a prefix is written now, before
# the first snapshot.
wine cmd /c ver >/dev/null 2>&1 </dev/null
launch "$WORK" notepad
wait_window . 30
new_session

# ---- 1. defaults ----
echo "1. silent installation with the defaults"
snapshot s0
OLD_PATH=$(reg_value "$ENV_KEY" Path)
wine "$SETUP" /S; RC=$?; wineserver -w
check "installer exits with 0" is "$RC" 0
check "programs, DLLs, plugins, translations, licences in Program Files\\Quorlan" eval '(
  for f in quorlan.exe quorlan-cli.exe bin/quorlan-cli.exe qt.conf Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
           Qt6SerialPort.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll \
           styles/qwindowsvistastyle.dll translations/qtbase_ru.qm licenses/LGPL-3.0.txt licenses/GPL-3.0.txt \
           licenses/THIRD-PARTY.txt licenses/qtbase-copyright.txt Uninstall.exe; do
    [ -f "$INSTDIR/$f" ] || { say "missing $f"; exit 1; }
  done)'
# Sizes, not bytes: stripping stamps each copy of a program with the time.
(cd "$INSTDIR" && find . -type f ! -name Uninstall.exe -printf "%s %p\n" | sort -k2) >"$WORK/installed-files.txt"
check "Start-menu entry Quorlan.lnk points at quorlan.exe" eval '
  LNK=$(strings -a "$STARTMENU/Quorlan.lnk"; strings -a -el "$STARTMENU/Quorlan.lnk") &&
  grep -qF "$INSTDIR_WIN\quorlan.exe" <<<"$LNK"'
check "Apps list: name, version, publisher, icon, location, uninstaller" eval '
  is "$(reg_value "$UNINST_KEY" DisplayName)" Quorlan &&
  is "$(reg_value "$UNINST_KEY" DisplayVersion)" "$VERSION" &&
  is "$(reg_value "$UNINST_KEY" Publisher)" Quorlan &&
  is "$(reg_value "$UNINST_KEY" DisplayIcon)" "$INSTDIR_WIN\\quorlan.exe,0" &&
  is "$(reg_value "$UNINST_KEY" InstallLocation)" "$INSTDIR_WIN" &&
  is "$(reg_value "$UNINST_KEY" UninstallString)" "\"$INSTDIR_WIN\\Uninstall.exe\"" &&
  is "$(reg_value "$UNINST_KEY" QuietUninstallString)" "\"$INSTDIR_WIN\\Uninstall.exe\" /S"'
check "quorlan.exe and quorlan-cli.exe carry version $VERSION" eval '(
  for f in quorlan.exe quorlan-cli.exe bin/quorlan-cli.exe; do
    RES=$(strings -n 2 -a -el "$INSTDIR/$f")
    [ "$(grep -A1 -x FileVersion <<<"$RES" | tail -1)" = "$VERSION" ] || { say "no version in $f"; exit 1; }
  done)'
check "PATH untouched, .cfg not taken" eval \
  'is "$(reg_value "$ENV_KEY" Path)" "$OLD_PATH" && ! has_key "HKLM\\Software\\Classes\\.cfg" && ! has_key "HKLM\\Software\\Classes\\Quorlan.Config"'
check "quorlan-cli.exe --help from the installed folder" eval \
  'cli "$INSTDIR/quorlan-cli.exe" --help; is "$RC" 0 && grep -q "check" <<<"$OUT"'
check "quorlan-cli.exe check: a good file 0, a cut one 2" eval '
  cli "$INSTDIR/quorlan-cli.exe" check "C:\\good.cfg"; is "$RC" 0 && grep -q "конфигурация в порядке" <<<"$OUT" &&
  cli "$INSTDIR/quorlan-cli.exe" check "C:\\bad.cfg"; is "$RC" 2'
launch "$INSTDIR" quorlan.exe
check "quorlan.exe starts from Program Files: splash, then the main window" main_window_up
sleep 2
import -window root "$WORK/installed-window.png" 2>/dev/null
check "screenshot of the installed window ($WORK/installed-window.png)" test -s "$WORK/installed-window.png"
new_session
wine "$INSTDIR/Uninstall.exe" /S; wineserver -w
check "uninstaller removes the folder and the Start-menu entry" eval '[ ! -e "$INSTDIR" ] && [ ! -e "$STARTMENU/Quorlan.lnk" ]'
snapshot s1
check "registry and disk as before the installation" same_as s0 s1

# ---- 2. both options ----
echo "2. /PATH=1 /CFG=1"
wine "$SETUP" /S /PATH=1 /CFG=1; RC=$?; wineserver -w
check "installer exits with 0" is "$RC" 0
check "PATH gets ;...\\Quorlan\\bin appended" is "$(reg_value "$ENV_KEY" Path)" "$OLD_PATH;$INSTDIR_WIN\\bin"
check ".cfg opens with Quorlan.Config: open command and icon" eval '
  is "$(reg_value "HKLM\\Software\\Classes\\.cfg" "")" Quorlan.Config &&
  is "$(reg_value "HKLM\\Software\\Classes\\Quorlan.Config\\shell\\open\\command" "")" "\"$INSTDIR_WIN\\quorlan.exe\" \"%1\"" &&
  is "$(reg_value "HKLM\\Software\\Classes\\Quorlan.Config\\DefaultIcon" "")" "$INSTDIR_WIN\\quorlan.exe,0"'
new_session   # new processes take PATH from the registry
check "quorlan-cli by name from a console (bin\\ on PATH runs the real one, exit code passed on)" eval '
  cli cmd /c "quorlan-cli check C:\\good.cfg"; is "$RC" 0 && grep -q "конфигурация в порядке" <<<"$OUT" &&
  cli cmd /c "quorlan-cli check C:\\bad.cfg"; is "$RC" 2'
check "quorlan-cli set writes unit7.cfg (object name «Склад 7»)" eval '
  cli "$INSTDIR/quorlan-cli.exe" set "C:\\good.cfg" "Общие установки › Название объекта (ID)=Склад 7" -o "C:\\unit7.cfg"; is "$RC" 0'
launch "$WORK" start /unix "$C/unit7.cfg"
check "a good .cfg opened through the shell: the window comes up" window_up
check "... and opens it without a message" eval 'is "$(boxes_after_start)" 0'
import -window root "$WORK/opened-by-association.png" 2>/dev/null
new_session
rm -f "$C/unit7.cfg"
launch "$WORK" start /unix "$BAD"
check "a cut .cfg opened through the shell: the window comes up" window_up
check "... and shows the open's error box" eval 'is "$(boxes_after_start)" 1'
import -window root "$WORK/bad-file-by-association.png" 2>/dev/null
new_session
wine "$SETUP" /S; RC=$?; wineserver -w
check "an update without options keeps PATH (once) and .cfg" eval '
  is "$RC" 0 && is "$(reg_value "$ENV_KEY" Path)" "$OLD_PATH;$INSTDIR_WIN\\bin" &&
  is "$(reg_value "HKLM\\Software\\Classes\\.cfg" "")" Quorlan.Config'
wine "$INSTDIR/Uninstall.exe" /S; wineserver -w
check "uninstaller takes PATH entry, .cfg and Quorlan.Config away" eval '
  is "$(reg_value "$ENV_KEY" Path)" "$OLD_PATH" && ! has_key "HKLM\\Software\\Classes\\.cfg" &&
  ! has_key "HKLM\\Software\\Classes\\Quorlan.Config" && ! has_key "$UNINST_KEY"'
snapshot s2
check "registry and disk as before the installation" same_as s0 s2

# ---- 3. over a long PATH and another program's .cfg ----
echo "3. /PATH=1 /CFG=1 over a long PATH and another program's .cfg"
# Wine itself cuts the PATH it hands to programs at about 1024 characters: this round only
# looks at the registry.
LONG_PATH=$OLD_PATH
for i in $(seq 1 60); do LONG_PATH="$LONG_PATH;%SystemRoot%\\a long path\\folder $i"; done
wine reg add "$ENV_KEY" /v Path /t REG_EXPAND_SZ /d "$LONG_PATH" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\.cfg' /ve /d OtherEditor.cfg /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\.cfg' /v 'Content Type' /d text/plain /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\OtherEditor.cfg\shell\open\command' /ve /d 'notepad.exe "%1"' /f >/dev/null 2>&1
wineserver -w
snapshot s3
wine "$SETUP" /S /PATH=1 /CFG=1; RC=$?; wineserver -w
check "installer exits with 0" is "$RC" 0
check "PATH (${#LONG_PATH} characters) gets ;...\\Quorlan\\bin appended, nothing else changed, still REG_EXPAND_SZ" eval \
  'is "$(reg_value "$ENV_KEY" Path)" "$LONG_PATH;$INSTDIR_WIN\\bin" && is "$(reg_type "$ENV_KEY" Path)" REG_EXPAND_SZ'
check ".cfg taken over; the other program's class and the key's other values stay" eval '
  is "$(reg_value "HKLM\\Software\\Classes\\.cfg" "")" Quorlan.Config &&
  is "$(reg_value "HKLM\\Software\\Classes\\.cfg" "Content Type")" text/plain &&
  has_key "HKLM\\Software\\Classes\\OtherEditor.cfg"'
wine "$SETUP" /S; RC=$?; wineserver -w
check "an update keeps PATH (once), .cfg and whose .cfg was before" eval '
  is "$RC" 0 && is "$(reg_value "$ENV_KEY" Path)" "$LONG_PATH;$INSTDIR_WIN\\bin" &&
  is "$(reg_value "HKLM\\Software\\Classes\\.cfg" "")" Quorlan.Config &&
  is "$(reg_value "$UNINST_KEY" PreviousCfgClass)" OtherEditor.cfg'
wine "$INSTDIR/Uninstall.exe" /S; wineserver -w
check "uninstaller gives PATH and .cfg back" eval '
  is "$(reg_value "$ENV_KEY" Path)" "$LONG_PATH" &&
  is "$(reg_value "HKLM\\Software\\Classes\\.cfg" "")" OtherEditor.cfg &&
  ! has_key "HKLM\\Software\\Classes\\Quorlan.Config" && ! has_key "$UNINST_KEY"'
snapshot s4
check "registry and disk as before the installation" same_as s3 s4

# ---- 4. a wrong option ----
echo "4. a wrong option value; the installer's own window"
wine "$SETUP" /S /PATH=yes; RC=$?; wineserver -w
check "installer exits with 2 and installs nothing" eval 'is "$RC" 2 && [ ! -e "$INSTDIR" ] && ! has_key "$UNINST_KEY"'

launch "$WORK" "$SETUP"
check "the installer's pages speak Russian (window «Установка Quorlan»)" wait_window '^Установка Quorlan$' 30
sleep 1
import -window root "$WORK/installer-welcome.png" 2>/dev/null
new_session

# ---- 5. the portable archive ----
echo "5. the portable archive"
PORTABLE=$WORK/portable
rm -rf "$PORTABLE"; mkdir -p "$PORTABLE"
check "the archive unpacks into quorlan-$VERSION-win64/" eval \
  '(cd "$PORTABLE" && unzip -q "$ZIP") && [ -d "$PORTABLE/quorlan-$VERSION-win64" ]'
check "it holds the same files as the installation, of the same sizes (all but Uninstall.exe)" eval '
  (cd "$PORTABLE/quorlan-$VERSION-win64" && find . -type f -printf "%s %p\n" | sort -k2) >"$WORK/zip-files.txt";
  [ -s "$WORK/installed-files.txt" ] && diff "$WORK/installed-files.txt" "$WORK/zip-files.txt" >&2'
check "quorlan-cli.exe runs from the unpacked folder, also through bin\\" eval '
  cli "$PORTABLE/quorlan-$VERSION-win64/quorlan-cli.exe" check "C:\\good.cfg"; is "$RC" 0 &&
  cli "$PORTABLE/quorlan-$VERSION-win64/bin/quorlan-cli.exe" check "C:\\bad.cfg"; is "$RC" 2'

echo "installer.sh: $CHECKS_PASSED passed, $CHECKS_FAILED failed (screenshots and snapshots in $WORK)"
[ "$CHECKS_FAILED" -eq 0 ] || exit 1
# The prefix stays for a look only when something failed.
new_session
rm -rf "$WINEPREFIX" "$WORK/portable"
