#!/bin/sh
# Installs the Debian packages of the given groups (see packages.txt) that are
# not installed yet. Uses sudo when not run as root.
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
echo "Installing missing packages:$missing"
sudo=
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
