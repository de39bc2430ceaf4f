#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the screenshots need; does nothing
# when all of them are present already. clang and libclang-rt-14-dev (the fuzzer, sanitizer
# runtimes and FuzzedDataProvider.h of clang 14) are for the fuzz targets (scripts/fuzz.sh).
# desktop-file-utils, appstream and groff-base check the installed desktop entry, metainfo and
# manual page; dpkg-dev gives cpack the programs' package dependencies (dpkg-shlibdeps).
set -euo pipefail
PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev qt6-translations-l10n fonts-dejavu-core xvfb xauth imagemagick
          clang libclang-rt-14-dev desktop-file-utils appstream groff-base dpkg-dev)
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
