#!/usr/bin/env bash
# Installs what cross-building, running and packaging the Windows programs on Linux needs, when
# missing: Debian's MinGW-w64 cross compiler (POSIX threads), NSIS for the installer, Wine and
# Xvfb to run the programs, Qt's host tools and Russian translations (scripts/deps.sh's Qt).
set -euo pipefail
PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix nsis wine wine64 fonts-wine xvfb xauth imagemagick xdotool tmux bc unzip
          qt6-base-dev qt6-translations-l10n xz-utils)
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
