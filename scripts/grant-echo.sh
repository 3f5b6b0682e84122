#!/bin/sh
# Lets Tarnwick send echo requests without running it with any privilege.
# Where the system already allows unprivileged ICMP sockets for this user,
# nothing is changed. Otherwise the small echo helper (and only it) gets the
# cap_net_raw file capability, through sudo where this user may use it, and
# the script checks that it took effect. Says what it did, or why it could
# not and what to run instead (as root, with the helper's full path).
# Exit status: 0 when Tarnwick can send echo requests, 1 when it cannot.
# Usage: grant-echo.sh <path of tarnwick-icmp-helper>
set -u
arg=${1:?usage: grant-echo.sh <path of tarnwick-icmp-helper>}
. "$(dirname "$0")/common.sh"

# The advice is run as root, maybe from another folder: the full path.
folder=$(cd "$(dirname "$arg")" 2>/dev/null && pwd -P) || folder=$(pwd -P)/$(dirname "$arg")
helper=$folder/$(basename "$arg")
access=$(root_access)
why=$(as_root_reason "$access")
setcap=$(command -v setcap || echo /usr/sbin/setcap)
sysctl=$(command -v sysctl || echo /usr/sbin/sysctl)
setcap_line="$(root_command "$access" "$setcap" cap_net_raw+ep "$(quote "$helper")")"

say() { printf '%s\n' "$*"; }
sysctl_advice() {
  say "  To let every user send echo requests without any file capability, run$why:"
  say "      $(root_command "$access" "$sysctl" -w 'net.ipv4.ping_group_range="0 2147483647"')"
  say "  and keep it after a reboot with that line in /etc/sysctl.d/60-tarnwick.conf."
}
cannot() {
  say "$1"
  [ -z "${2:-}" ] || say "$2"
  sysctl_advice
  say "  Tarnwick runs all the same: it tells you that it cannot ping, and starts"
  say "  pinging by itself as soon as one of these is done."
  exit 1
}
setcap_advice() { say "  Run$why:   $setcap_line   or:"; }

[ -x "$helper" ] || cannot "Echo requests: there is no echo helper at $helper."

range=$(cat /proc/sys/net/ipv4/ping_group_range 2>/dev/null || echo "1 0")
lo=${range%%[[:space:]]*}
hi=${range##*[[:space:]]}
for g in $(id -G); do
  if [ "$g" -ge "$lo" ] && [ "$g" -le "$hi" ]; then
    say "Echo requests: allowed for your groups (net.ipv4.ping_group_range is $lo $hi); nothing to change."
    exit 0
  fi
done

# The kernel ignores file capabilities on a nosuid mount: setcap would
# succeed there and change nothing.
mount_options=$(findmnt -n -o OPTIONS -T "$helper" 2>/dev/null || true)
case ",$mount_options," in
*,nosuid,*)
  mount_point=$(findmnt -n -o TARGET -T "$helper" 2>/dev/null || echo "?")
  cannot "Echo requests: $helper lies on a file system mounted nosuid ($mount_point), where the kernel ignores file capabilities." \
    "  Build or install Tarnwick on another file system (make install PREFIX=...), or:"
  ;;
esac

# Runs the helper as the program would: it opens its raw socket, reports,
# and leaves when its input closes. Nothing is sent. For anyone but root
# this is the kernel's own answer.
helper_works() { "$helper" </dev/null >/dev/null 2>&1; }
# What the file's security.capability attribute grants, as getcap reads it:
# the kernel raises cap_net_raw at exec only when it is permitted with the
# effective flag (cap_net_raw=ep, or among others: cap_a,cap_net_raw=eip),
# and ignores capabilities set for another user namespace's root.
has_cap() {
  caps=$(getcap "$helper" 2>/dev/null) || return 1
  case $caps in *rootid=*) return 1 ;; esac
  printf '%s\n' "$caps" | grep -Eq '(^|[ ,])cap_net_raw(,[a-z_0-9]+)*[+=]ei?p'
}

if has_cap; then
  if [ "$access" = root ] || helper_works; then
    say "Echo requests: $helper already has cap_net_raw; nothing to change."
    exit 0
  fi
  cannot "Echo requests: $helper carries cap_net_raw, but it does not take effect here."
fi

case $access in
no-sudo)
  cannot "Echo requests: not allowed for your user, and sudo is not installed, so the echo helper cannot be given its right here." \
    "$(setcap_advice)"
  ;;
not-sudoer)
  cannot "Echo requests: not allowed for your user, and your account may not use sudo, so the echo helper cannot be given its right here." \
    "$(setcap_advice)"
  ;;
esac
sudo=
[ "$access" = sudo ] && sudo=sudo
say "Echo requests: giving cap_net_raw to $helper (the only file of Tarnwick that carries it)"
if ! $sudo "$setcap" cap_net_raw+ep "$helper"; then
  cannot "Echo requests: setcap failed${sudo:+ (sudo refused or could not ask for the password)}." \
    "$(setcap_advice)"
fi
if ! has_cap; then
  cannot "Echo requests: setcap reported success, but $helper has no cap_net_raw afterwards."
fi
if [ "$access" != root ] && ! helper_works; then
  cannot "Echo requests: $helper now carries cap_net_raw, but it does not take effect here (the file system may ignore file capabilities)."
fi
say "Echo requests: allowed through the echo helper."
exit 0
