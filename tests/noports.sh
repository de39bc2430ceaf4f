#!/usr/bin/env bash
# Runs a command where this machine's serial ports do not exist: a private mount namespace whose
# /dev holds only what programs and Wine need (null, zero, random, tty, the pseudo-terminals,
# shared memory). The windows open the first port of the system's list at start-up, and Wine
# maps every /dev/ttyS*, ttyUSB* and ttyACM* it finds to a COM port of its own accord; here there
# is none, and a technician's controller on a USB adapter is never touched.
#
# Usage: tests/noports.sh COMMAND [ARGS...]   (test.sh runs the suites so; so do the Wine checks)
set -euo pipefail
if [ "${QUORLAN_NOPORTS:-}" = inside ]; then
  dev=$(mktemp -d /tmp/quorlan-dev.XXXXXX)
  mount -t tmpfs -o mode=755 none "$dev"
  for n in null zero full random urandom tty; do
    touch "$dev/$n"
    mount --bind "/dev/$n" "$dev/$n"
  done
  mkdir "$dev/pts" "$dev/shm"
  mount --bind /dev/pts "$dev/pts"
  mount --bind /dev/shm "$dev/shm"
  ln -s pts/ptmx "$dev/ptmx"   # new pseudo-terminals come from the one devpts instance
  ln -s /proc/self/fd "$dev/fd"
  for i in 0 1 2; do ln -s "/proc/self/fd/$i" "$dev/$(echo stdin stdout stderr | cut -d' ' -f$((i + 1)))"; done
  mount --rbind "$dev" /dev
  if ls /dev | grep -qE '^tty(S|USB|ACM)'; then echo "noports: serial devices still visible" >&2; exit 1; fi
  unset QUORLAN_NOPORTS
  exec "$@"
fi
export QUORLAN_NOPORTS=inside
if [ "$(id -u)" -eq 0 ]; then
  exec unshare --mount --propagation private "$0" "$@"
fi
# As a user: a user namespace gives the mount rights (where the system allows them).
exec unshare --user --map-root-user --mount --propagation private "$0" "$@"
