#!/bin/sh
# Lets Tarnwick send echo requests without running it with any privilege.
# Where the system already allows unprivileged ICMP sockets for this user,
# nothing is changed. Otherwise the small echo helper (and only it) gets the
# cap_net_raw file capability.
set -eu
helper=$1
range=$(cat /proc/sys/net/ipv4/ping_group_range 2>/dev/null || echo "1 0")
lo=$(echo "$range" | awk '{print $1}')
hi=$(echo "$range" | awk '{print $2}')
for g in $(id -G); do
  if [ "$g" -ge "$lo" ] && [ "$g" -le "$hi" ]; then
    exit 0
  fi
done
if getcap "$helper" 2>/dev/null | grep -q cap_net_raw; then
  exit 0
fi
sudo=
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
echo "Granting cap_net_raw to $helper (the only file that needs it)"
$sudo setcap cap_net_raw+ep "$helper"
