# Sourced by the Windows scripts: finds or unpacks Qt for MinGW and exports QUORLAN_WIN_QT.
if [ -z "${QUORLAN_WIN_QT:-}" ]; then
  win64=${QUORLAN_WIN64:-../shared/win64}
  archive=$(ls "$win64"/qt-*-mingw-w64.tar.xz 2>/dev/null | tail -n 1)
  if [ -z "$archive" ]; then
    echo "No Qt for MinGW: set QUORLAN_WIN_QT, or QUORLAN_WIN64 to a folder holding qt-*-mingw-w64.tar.xz" >&2
    return 1 2>/dev/null || exit 1
  fi
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorlan
  name=$(basename "$archive" .tar.xz)
  stamp="$cache/$name.stamp"
  # The archive's size and time name the unpacked copy: a new archive is unpacked again.
  want=$(stat -c '%s %Y' "$archive")
  if [ ! -d "$cache/$name" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    echo "Unpacking $archive into $cache"
    rm -rf "${cache:?}/$name"
    mkdir -p "$cache"
    tar xJf "$archive" -C "$cache"
    echo "$want" > "$stamp"
  fi
  export QUORLAN_WIN_QT="$cache/$name"
fi
