#!/usr/bin/env bash
# Runs the Windows build (scripts/win-build.sh) under Wine as a Windows user would, where this
# machine's serial ports are hidden (tests/noports.sh), against controller simulators on
# pseudo-terminals mapped to COM ports:
#   cli.sh        quorlan-cli.exe: info, read, write with verify and backup, four ports at once,
#                 a silent port, a refused byte, a device gone mid-write, console text
#   gui.sh        quorlan.exe: handshake, picker, write and read from the menu, state window,
#                 150 % scaling (screenshots; --docs copies them into docs/)
#   suites.sh     the test suites built for Windows
#   installer.sh  the installer: silent install, the programs where it put them, uninstall
# Each prints its checks and a "passed, failed" line; the script fails when any check does.
#
# Usage: scripts/win-check.sh [--docs]
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh --windows || exit 1
BUILD=build/mingw
if [ ! -f "$BUILD/deploy/quorlan.exe" ]; then
  echo "win-check: no Windows build; run scripts/win-build.sh first" >&2
  exit 1
fi
# The simulator is a Linux program.
if [ ! -x build/default/korvel-sim ]; then
  cmake --preset default >/dev/null && cmake --build --preset default --target korvel-sim >/dev/null || exit 1
fi
failed=()
for check in cli gui suites installer; do
  start=$SECONDS
  args=("$BUILD")
  [ "$check" = gui ] && [ "${1:-}" = --docs ] && args+=(--docs)
  if WORK="$PWD/$BUILD/wine-$check" tests/noports.sh "tests/wine/$check.sh" "${args[@]}"; then
    echo "win-check: $check ok ($((SECONDS - start)) s)"
  else
    echo "win-check: $check FAILED ($((SECONDS - start)) s)"
    failed+=("$check")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "win-check: failed: ${failed[*]}"; exit 1; }
echo "win-check: all Windows checks passed"
