#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the screenshots need; does nothing
# when all of them are present already. clang and libclang-rt-14-dev (the fuzzer, sanitizer
# runtimes and FuzzedDataProvider.h of clang 14) are for the fuzz targets (scripts/fuzz.sh).
# desktop-file-utils, appstream and groff-base check the installed desktop entry, metainfo and
# manual pages; dpkg-dev gives cpack the programs' package dependencies (dpkg-shlibdeps); lintian
# checks the Debian package as Debian does. libqt6sql6-sqlite is Qt SQL's SQLite driver, which
# the journal of exchanges stores in (Qt SQL's headers come with qt6-base-dev).
#
# With --windows: what cross-building, running and packaging the Windows programs needs instead
# (scripts/win-build.sh, scripts/win-check.sh): Debian's MinGW-w64 cross compiler (POSIX threads),
# NSIS for the installer, Wine with its fonts, Xvfb, xdotool and tmux to drive the programs, bc
# and unzip for the checks, and the host's Qt tools and Russian translations.
set -euo pipefail
if [ "${1:-}" = --windows ]; then
  PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix nsis wine wine64 fonts-wine xvfb xauth
            imagemagick xdotool tmux bc unzip qt6-base-dev qt6-translations-l10n xz-utils
            g++ qt6-serialport-dev)   # the simulator and the shim are Linux programs
else
  PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite qt6-translations-l10n
            fonts-dejavu-core xvfb xauth imagemagick clang libclang-rt-14-dev desktop-file-utils appstream
            groff-base dpkg-dev lintian)
fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
