#!/usr/bin/env bash
# Builds the Windows programs on Linux: quorlan.exe, quorlan-cli.exe and the test suites that
# run on Windows, cross-compiled with MinGW-w64 against Qt for MinGW; then the deployed folder
# (build/mingw/deploy: the programs with every DLL, plugin and translation they need), the
# installer and the portable archive (build/mingw/quorlan-<version>-win64.exe and .zip).
#
# Qt for MinGW: $QUORLAN_WIN_QT if set (any Qt 6 for MinGW-w64 with Serial Port); otherwise the
# archive in $QUORLAN_WIN64 (default ../shared/win64 beside the project), unpacked once into
# ${XDG_CACHE_HOME:-~/.cache}/quorlan, outside the work tree.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh --windows
. scripts/win-env.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
rm -rf build/mingw/deploy
cmake --install build/mingw --strip --prefix "$PWD/build/mingw/deploy" >/dev/null
(cd build/mingw && cpack -G "NSIS;ZIP" >/dev/null)
ls -l build/mingw/quorlan-*-win64.exe build/mingw/quorlan-*-win64.zip 2>/dev/null || true
