#!/usr/bin/env bash
# Installs what is missing, builds with ASan and UBSan, and runs every test; then builds the
# fuzz targets with clang and runs each briefly on its corpus (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake --preset asan >/dev/null
cmake --build --preset asan
export QT_QPA_PLATFORM=offscreen
# The fault matrix writes its cases and outcomes here, so the committed table follows the code.
export QUORLAN_MATRIX_OUT="$PWD/docs/fault-matrix.md"
ctest --preset asan
./scripts/fuzz.sh 5
