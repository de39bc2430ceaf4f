# Sourced by the Wine checks: a fresh Wine prefix that sees none of this machine's serial ports,
# controller simulators on pseudo-terminals mapped to COM ports, an Xvfb display, the shim that
# lets Wine's COM layer wait on a pseudo-terminal as on a UART (comport_shim.c), and a record of
# what passed.
#
# Needs: ROOT (the project), BUILD (the cross build folder), SIM (the Linux korvel-sim).

WORK=${WORK:-$BUILD/wine-check}
export WINEPREFIX=${WINEPREFIX:-$WORK/prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs in a new prefix: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export XDG_RUNTIME_DIR=$WORK/run
CHECKS_PASSED=0
CHECKS_FAILED=0
SIM_PIDS=()
XVFB_PID=

ok()   { CHECKS_PASSED=$((CHECKS_PASSED + 1)); echo "  ok   $*"; }
bad()  { CHECKS_FAILED=$((CHECKS_FAILED + 1)); echo "  FAIL $*"; }
# check "what" command...: ok when the command succeeds.
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }

cleanup_wine() {
  for p in "${SIM_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  SIM_PIDS=()
}

build_shim() {
  SHIM=$WORK/libcomport_shim.so
  mkdir -p "$WORK"
  if [ ! -f "$SHIM" ] || [ "$ROOT/tests/wine/comport_shim.c" -nt "$SHIM" ]; then
    gcc -shared -fPIC -O2 -Wall -o "$SHIM" "$ROOT/tests/wine/comport_shim.c" -ldl
  fi
}

# A new prefix each run, made where this machine's serial ports are hidden (noports.sh): Wine
# maps every serial device it finds to a COM port, and the window opens the first at start-up.
fresh_prefix() {
  if ls /dev | grep -qE '^tty(S|USB|ACM)[0-9]'; then
    echo "serial devices are visible: run the Wine checks through tests/noports.sh" >&2
    return 1
  fi
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$XDG_RUNTIME_DIR"
  mkdir -p "$WORK" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  # Wine's own Tahoma and Marlett, which Windows programs and Wine's window frames expect; a new
  # prefix does not find them where Debian keeps them, and Qt falls back to a serif face.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}

# start_sim N [korvel-sim options...]: a simulator whose pty becomes COM<N> for Wine. Sets
# SIM_PTY; its log is $WORK/sim-COM<N>.log.
start_sim() {
  local n=$1; shift
  local ready=$WORK/sim-$n.ready
  rm -f "$ready"
  "$SIM" --port $((200 + n)) "$@" >"$ready" 2>"$WORK/sim-COM$n.log" </dev/null &
  SIM_PIDS+=($!)
  local i
  for i in $(seq 100); do [ -s "$ready" ] && break; sleep 0.05; done
  SIM_PTY=$(cut -d' ' -f3 "$ready")
  [ -n "$SIM_PTY" ] || { echo "simulator for COM$n did not start" >&2; return 1; }
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$SIM_PTY" /f >/dev/null 2>&1
}

# Every Windows program ended and the server gone: the next program starts a new session, which
# reads the registry afresh (the port map after the last start_sim, a new PATH).
new_session() { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }

start_xvfb() {
  local d
  for d in $(seq 80 120); do
    [ -e /tmp/.X11-unix/X$d ] || [ -e /tmp/.X$d-lock ] && continue
    Xvfb :$d -screen 0 "${1:-1280x1024x24}" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=:$d
    for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$d ] && return 0; sleep 0.1; done
  done
  echo "no Xvfb display" >&2
  return 1
}

# wine_run: a Windows program with the shim, standard streams as given.
wine_run() { LD_PRELOAD=$SHIM wine "$@"; }
