#!/usr/bin/env bash
# Checks that the program's Windows branches compile: every source of image/, link/, widgets/,
# editor/, state/, app/ and cli/ (no tests, tools or benchmarks) goes through the MinGW-w64
# cross compiler, syntax only, against this machine's Qt 6 headers. The cross compiler defines
# _WIN32, so Qt's headers define Q_OS_WIN and the sources take their Windows branches.
#
# Two kinds of failure:
#  - a compile error or warning in our code (-Wall -Wextra; Qt's headers are system headers);
#  - a POSIX header (unistd.h, sys/stat.h, ...) included by our code on Windows. MinGW ships
#    many of them, so such code compiles here, but MSVC has none or only parts of them.
#
# What it does not prove: that the code links or runs on Windows (nothing is linked, no moc
# output is compiled, the Qt headers are the Linux build's, with its configuration), nor that
# MSVC accepts what GCC accepts.
#
# Usage: scripts/wincheck.sh [FILE...]   (default: every .cpp of those folders)
# Needs: x86_64-w64-mingw32-g++ (Debian: g++-mingw-w64-x86-64-posix), qt6-base-dev and
# qt6-serialport-dev.
set -uo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--one" ]; then
  # One file: compile, print our diagnostics and forbidden includes, exit non-zero on either.
  f=$2
  log=$($WINCHECK_CXX $WINCHECK_FLAGS -H "$f" 2>&1)
  rc=$?
  # -H prints the include tree as lines of dots (the depth) and a path; a header's includer is
  # the nearest line above it one dot less deep, the source itself at depth 1.
  bad=$(printf '%s\n' "$log" | awk -v src="$f" '
    /^\.+ / {
      depth = index($0, " ") - 1; path = substr($0, depth + 2); at[depth] = path
      parent = depth == 1 ? src : at[depth - 1]
      if (parent ~ /^\// || path !~ /^\//) next     # only system headers our own files include
      if (path ~ /\/(unistd|fcntl|dirent|termios|poll|pwd|grp|pty|dlfcn|strings|libgen|pthread)\.h$/ ||
          path ~ /\/sys\/(stat|ioctl|time|resource|socket|select|mman|wait|sysmacros|file)\.h$/ ||
          path ~ /\/linux\//)
        printf "%s: includes %s, which Windows compilers lack or only partly have\n", parent, path
    }')
  diag=$(printf '%s\n' "$log" | grep -v -e '^\.\.* ' -e '^Multiple include guards may be useful for:' \
         -e '^/usr/' || true)
  [ -n "$diag" ] && printf '%s\n' "$diag" >&2
  [ -n "$bad" ] && printf '%s\n' "$bad" >&2
  [ $rc -eq 0 ] && [ -z "$diag" ] && [ -z "$bad" ]
  exit
fi

CXX=${WINCHECK_CXX:-x86_64-w64-mingw32-g++}
QT=${WINCHECK_QT_INCLUDE:-/usr/include/x86_64-linux-gnu/qt6}
if ! command -v "$CXX" >/dev/null; then
  echo "wincheck: $CXX not found (Debian: apt install g++-mingw-w64-x86-64-posix)" >&2
  exit 2
fi
if [ ! -d "$QT/QtCore" ] || [ ! -d "$QT/QtSerialPort" ]; then
  echo "wincheck: no Qt 6 headers in $QT (Debian: apt install qt6-base-dev qt6-serialport-dev)" >&2
  exit 2
fi
# The folders' parent is the include root, as the build's layer folders give it; cli/ includes
# its own headers by their bare names. UNICODE as Qt's Windows builds set it.
FLAGS="-std=c++20 -fsyntax-only -Wall -Wextra -DUNICODE -D_UNICODE -I. -Icli -isystem $QT"
for m in QtCore QtGui QtWidgets QtSerialPort; do FLAGS+=" -isystem $QT/$m"; done
if [ $# -gt 0 ]; then
  FILES=("$@")
else
  FILES=(image/*.cpp link/*.cpp widgets/*.cpp editor/*.cpp state/*.cpp app/*.cpp cli/*.cpp)
fi
export WINCHECK_CXX=$CXX WINCHECK_FLAGS=$FLAGS
# Two at a time: the machine is shared. A file that fails prints its name on stdout.
failed=$(printf '%s\n' "${FILES[@]}" | xargs -P 2 -I{} sh -c '"$0" --one "$1" || echo "$1"' "$0" {} | sort)
count=$(printf '%s' "$failed" | grep -c . || true)
echo "wincheck: ${#FILES[@]} files for Windows, $count failed${failed:+:}" $failed
[ "$count" -eq 0 ]
