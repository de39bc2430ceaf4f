#!/usr/bin/env bash
# Installs what is missing, builds with ASan and UBSan, and runs every test; then builds the
# fuzz targets with clang and runs each briefly on its corpus (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
# What the work tree looks like now: a test run must leave it so.
tree_state() { git status --porcelain --untracked-files=all 2>/dev/null || true; }
before="$(tree_state)"
cmake --preset asan >/dev/null
cmake --build --preset asan
export QT_QPA_PLATFORM=offscreen
# No test may reach this machine's serial ports (a controller may be plugged in, or the serial
# line may be a console): the suites run where none is visible.
if tests/noports.sh true 2>/dev/null; then
  tests/noports.sh ctest --preset asan
else
  echo "test.sh: no mount namespace to hide this machine's serial ports in; the suites run as they are" >&2
  ctest --preset asan
fi
./scripts/fuzz.sh 5
if [ "$(tree_state)" != "$before" ]; then
  echo "test.sh: the test run changed the work tree:" >&2
  diff <(echo "$before") <(tree_state) >&2 || true
  exit 1
fi
