#!/bin/sh
# Installs the Debian packages of the given groups (see packages.txt) that are
# not installed yet. Uses sudo when not run as root and this user may use it.
# Waits (up to two minutes, and says so) while another package manager holds
# apt's locks, as unattended upgrades do. When the packages cannot be
# installed, names them and stops: nothing can be built without them.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
want=
for group in "$@"; do
  line=$(grep "^$group:" "$here/packages.txt") || { echo "unknown package group: $group" >&2; exit 2; }
  want="$want ${line#*:}"
done
missing=
for p in $want; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"ok installed"*) ;;
    *) missing="$missing $p" ;;
  esac
done
[ -z "$missing" ] && exit 0

access=$(root_access)
stop() {
  echo "$1" >&2
  echo "These Debian packages are missing:$missing" >&2
  echo "Install them$(as_root_reason "$access"), then run make again:" >&2
  echo "    $(root_command "$access" apt-get install$missing)" >&2
  exit 1
}

case $access in
root) sudo= ;;
sudo) sudo=sudo ;;
no-sudo) stop "Cannot install packages: you are not root and sudo is not installed." ;;
*) stop "Cannot install packages: you are not root and your account may not use sudo." ;;
esac

err=$(mktemp)
trap 'rm -f "$err"' EXIT INT TERM
lock_wait=120
# apt-get, waiting while another package manager holds the lock it needs;
# any other failure ends it at once. apt's own messages go to stderr as ever.
apt_get() {
  deadline=$(($(date +%s) + lock_wait))
  told=
  while :; do
    rc=0
    # env: sudo would drop the variable otherwise.
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>"$err" || rc=$?
    if [ "$rc" -ne 0 ] && grep -q 'Could not get lock' "$err"; then
      if [ "$(date +%s)" -lt "$deadline" ]; then
        if [ -z "$told" ]; then
          held=$(sed -n 's/^E: Could not get lock \(.*\)\.  *It is held by \(.*\)$/\1, held by \2/p; s/^E: Could not get lock \([^ ]*\)$/\1/p' "$err" | head -n 1)
          echo "Waiting for another package manager to finish (${held:-apt's lock is taken}); up to two minutes."
          told=1
        fi
        sleep 2
        continue
      fi
      cat "$err" >&2
      echo "The package lock is still taken after two minutes." >&2
      return "$rc"
    fi
    cat "$err" >&2
    return "$rc"
  done
}

echo "Installing missing packages:$missing"
# shellcheck disable=SC2086
if ! apt_get update -q || ! apt_get install -y -q --no-install-recommends $missing; then
  stop "Installing the packages failed${sudo:+ (sudo may have refused)}."
fi
