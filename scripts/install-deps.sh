#!/bin/sh
# Installs the Debian packages of the given groups (see packages.txt) that are
# not installed yet. Uses sudo when not run as root. When they cannot be
# installed, names them and stops: nothing can be built without them.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
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

stop() {
  echo "$1" >&2
  echo "These Debian packages are missing:$missing" >&2
  echo "Install them as root, then run make again:" >&2
  echo "    apt-get install$missing" >&2
  exit 1
}

sudo=
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || stop "Cannot install packages: you are not root and sudo is not installed."
  sudo=sudo
fi
echo "Installing missing packages:$missing"
# env: sudo would drop the variable otherwise.
# shellcheck disable=SC2086
if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q ||
  ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing; then
  stop "Installing the packages failed${sudo:+ (sudo may have refused)}."
fi
