#!/usr/bin/env bash
# The Windows build's test suites (those that need no pseudo-terminal) run under Wine: each with
# a time limit, one line per suite with Qt Test's counts and the seconds it took, and a last line
# "N passed, N failed" counting suites. Exits non-zero when any suite failed, crashed or hung.
#
# Usage: tests/noports.sh tests/wine/suites.sh BUILD [SUITE...]
#   BUILD   the MinGW cross build folder (tests/tst_*.exe, quorlan-cli.exe)
#   SUITE   tst_... names to run; default every tests/tst_*.exe of BUILD
# Qt for MinGW: $QUORLAN_WIN_QT, else what scripts/win-env.sh finds. Each suite's log is
# BUILD/wine-suites/<suite>.txt. QUORLAN_SUITE_TIMEOUT (seconds, default 120) bounds one suite.
#
# Run it through tests/noports.sh: Wine maps every serial device it finds to a COM port,
# and the window suites open the first COM port at start-up.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: $0 BUILD [SUITE...]}
build=$(cd "$build" && pwd) || exit 2
shift
if ls /dev | grep -qE '^tty(S|USB|ACM)[0-9]'; then
  echo "serial devices are visible: run this through tests/noports.sh" >&2
  exit 2
fi
export WINEPREFIX=${WINEPREFIX:-$build/wine-suites/prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer in a new prefix
limit=${QUORLAN_SUITE_TIMEOUT:-120}

if [ -z "${QUORLAN_WIN_QT:-}" ]; then
  . "$root/scripts/win-env.sh" || exit 2
fi
for f in "$QUORLAN_WIN_QT/bin/Qt6Core.dll" "$QUORLAN_WIN_QT/plugins/platforms/qoffscreen.dll"; do
  [ -f "$f" ] || { echo "missing $f (QUORLAN_WIN_QT=$QUORLAN_WIN_QT)" >&2; exit 2; }
done
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name 2>/dev/null)")
[ -f "$runtime/libstdc++-6.dll" ] || runtime=/usr/lib/gcc/x86_64-w64-mingw32/12-posix
export WINEPATH="$QUORLAN_WIN_QT/bin;$runtime;/usr/x86_64-w64-mingw32/lib"
# Wine keeps the Unix QT_* variables from Windows programs and hands them WINEQT_* as QT_*.
export WINEQT_QPA_PLATFORM=offscreen
# The offscreen platform draws with FreeType from one folder, as on Linux: DejaVu has Cyrillic.
for d in /usr/share/fonts/truetype/dejavu "$QUORLAN_WIN_QT/lib/fonts"; do
  [ -d "$d" ] && { export WINEQT_QPA_FONTDIR="Z:$d"; break; }
done
unset QUORLAN_CLI KORVEL_SIM   # Linux paths; the suites find quorlan-cli.exe beside themselves
winpath() { echo "Z:$1"; }   # Wine's drive Z: is the root; Qt takes / in Windows paths

# Qt's Russian translations (the same files on every system) for the suites that load them, found
# through a qt.conf beside the suites.
translations=
for d in "$QUORLAN_WIN_QT/translations" /usr/share/qt6/translations; do
  [ -f "$d/qtbase_ru.qm" ] && { translations=$d; break; }
done
[ -n "$translations" ] || echo "no qtbase_ru.qm (Debian: qt6-translations-l10n): a suite will fail" >&2
printf '[Paths]\nPrefix = %s\nTranslations = %s\n' "$(winpath "$QUORLAN_WIN_QT")" \
  "$(winpath "${translations:-$QUORLAN_WIN_QT/translations}")" >"$build/tests/qt.conf"

if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  echo "Making Wine prefix $WINEPREFIX" >&2
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

if [ $# -gt 0 ]; then
  suites=("$@")
else
  suites=()
  for exe in "$build"/tests/tst_*.exe; do
    [ -e "$exe" ] && suites+=("$(basename "$exe" .exe)")
  done
fi
[ ${#suites[@]} -gt 0 ] || { echo "no tests/tst_*.exe in $build" >&2; exit 2; }

logs=$build/wine-suites
mkdir -p "$logs"
passed=0 failed=0
for s in "${suites[@]}"; do
  exe=$build/tests/$s.exe
  log=$logs/$s.txt
  rm -f "$log"
  start=$(date +%s%N)
  # Qt Test's own stdout does not reach a Unix pipe under Wine: the log goes to a file.
  (cd "$build/tests" && timeout -k 10 "$limit" wine "$exe" -o "$(winpath "$log"),txt" \
     >"$logs/$s.out" 2>&1)
  rc=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  totals=$(grep -a '^Totals:' "$log" 2>/dev/null | tail -n 1)
  p=$(sed -n 's/.* \([0-9]*\) passed.*/\1/p' <<<"$totals")
  f=$(sed -n 's/.* \([0-9]*\) failed.*/\1/p' <<<"$totals")
  k=$(sed -n 's/.* \([0-9]*\) skipped.*/\1/p' <<<"$totals")
  note=
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then note=" (timed out after ${limit} s)"
  elif [ -z "$totals" ]; then note=" (no totals: crashed, exit code $rc)"
  elif [ $rc -ne 0 ]; then note=" (exit code $rc)"
  fi
  printf '%-22s %4s passed %3s failed %3s skipped %4d.%d s%s\n' "$s" "${p:--}" "${f:--}" "${k:--}" \
    $((ms / 1000)) $((ms % 1000 / 100)) "$note"
  if [ $rc -eq 0 ] && [ -n "$totals" ] && [ "${f:-1}" = 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    grep -a -A3 '^FAIL!' "$log" 2>/dev/null | head -n 20 | sed 's/^/    /' >&2
  fi
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
