# Sourced by the set-up scripts: the system's tools, how this user can run a
# command as root, and quoting for the commands we print.

# getcap, setcap and sysctl live in sbin, which an ordinary user's PATH lacks
# (and root's too after a plain su); the system's folders come first, so that
# no tool of the same name elsewhere is taken for them.
PATH=/usr/sbin:/sbin:/usr/bin:/bin${PATH:+:$PATH}
export PATH

# How this user runs a command as root: root, sudo, not-sudoer or no-sudo.
# A sudoer is a member of the group the usual policy admits (Debian's sudo,
# elsewhere wheel or admin); asking sudo itself would report a non-sudoer to
# the administrator.
root_access() {
  if [ "$(id -u)" -eq 0 ]; then
    echo root
    return
  fi
  if ! command -v sudo >/dev/null 2>&1; then
    echo no-sudo
    return
  fi
  for g in $(id -Gn 2>/dev/null); do
    case $g in sudo | wheel | admin)
      echo sudo
      return
      ;;
    esac
  done
  echo not-sudoer
}

# " as root (why)" where the user must become root on their own; nothing
# where sudo does it or they are root already.
as_root_reason() {
  case $1 in
  no-sudo) echo " as root (sudo is not installed)" ;;
  not-sudoer) echo " as root (your account may not use sudo)" ;;
  esac
}

# A command to run as root, as this user can run it.
root_command() { # access, command words...
  a=$1
  shift
  if [ "$a" = sudo ]; then
    printf 'sudo %s\n' "$*"
  else
    printf '%s\n' "$*"
  fi
}

# A word for the shell: as it is where that is safe, otherwise in single quotes.
quote() {
  case $1 in
  '' | *[!A-Za-z0-9/._+,:@-]*)
    printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"
    ;;
  *) printf '%s' "$1" ;;
  esac
}
