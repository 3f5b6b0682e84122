#!/bin/sh
# The real program in the private test network, with desktop notices on and
# a real notification daemon (dunst) on a private session bus: a host stops
# answering (its echo requests dropped by the firewall) and comes back; then
# the first router drops everything, so no host answers, and comes back.
# The notices the daemon got, the incidents in the ledger file and their
# times must be right to within one Delay (and the Time-out the failing
# attempts wait). Then the ledger window, its copied ticket text, and an
# exit with status 0 that leaves no incident open. Screenshots stay in the
# build folder.
# Runs inside tests/rig/rig.sh (root, the client namespace) under Xvfb.
set -eu
build=${TARNWICK_BUILD_DIR:?}
test_name=e2e-incidents
. "$(dirname "$0")/../support/desktop-test-lib.sh"
[ "${TARNWICK_RIG:-}" = 1 ] || skip "run through tests/rig/rig.sh: this test sends packets"
for tool in dunst dunstctl dbus-daemon dbus-monitor xclip openbox xdotool import iptables; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (scripts/packages.txt, test)"
done
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME
delay=1000
timeout=300
now_ms() { date +%s%3N; }

# A session bus of our own, what crosses it to the daemon, and the daemon.
mkdir -p "$work/bus"
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=$work/bus</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 >"$work/bus.address" 2>"$work/bus.log" &
pids="$pids $!"
wait_for 10 test -s "$work/bus.address" || fail "no session bus"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS
dbus-monitor --address "$DBUS_SESSION_BUS_ADDRESS" \
    "interface='org.freedesktop.Notifications',member='Notify'" >"$work/notify.log" 2>&1 &
pids="$pids $!"
printf '[global]\nfont = DejaVu Sans 11\nwidth = 460\norigin = top-right\noffset = 10x10\n' >"$work/dunstrc"
dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
pids="$pids $!"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids="$pids $!"
wait_for 10 sh -c 'dunstctl is-paused' || fail "dunst is not on the bus"

# Two hosts behind the first router; notices on, down after 3, up after 2.
mkdir -p "$work/app/data" "$XDG_CONFIG_HOME/Orlvane"
cp "$build/tarnwick" "$build/tarnwick-icmp-helper" "$work/app/"
printf '%s\r\n0\r\n%s\r\n32\r\n' "$delay" "$timeout" >"$work/app/data/config.cfg"
printf '198.18.3.2\r\n198.18.5.2\r\n' >"$work/app/data/domains.cfg"
printf '[General]\nfr=1\nnotices=1\ndownAfter=3\nupAfter=2\n' >"$XDG_CONFIG_HOME/Orlvane/Orlvane_Tarnwick.ini"
ledger="$work/app/data/incidents.ledger"
"$work/app/tarnwick" >"$work/app.log" 2>&1 &
app=$!

echos() { # echo requests a target namespace has received
    ip netns exec "$1" cat /proc/net/snmp |
        awk '/^Icmp:/ { if (!c) { for (i = 1; i <= NF; i++) if ($i == "InEchos") c = i } else { print $c; exit } }'
}
answering() { [ "$(echos tgt)" -ge 3 ] && [ "$(echos tgt5)" -ge 3 ]; }
wait_for 20 answering || fail "the hosts were never pinged"
main_window() { xdotool search --onlyvisible --name '^Orlvane Auto Tarnwick  -  ' 2>/dev/null | head -n 1 | grep .; }
wait_for 10 main_window || fail "no main window (and no notification area)"

notices() { grep -o 'string "[a-z][^"]*\(down\|up again\|answer\)[^"]*"' "$work/notify.log" | sed 's/^string "//; s/"$//'; }
has_notice() { notices | grep -q "$1"; }
# "4 min 10 s" or "12 s" in ms
duration_ms() {
    echo "$1" | awk '{ s = 0; for (i = 1; i < NF; i += 2) { if ($(i+1) == "min") s += $i * 60; else if ($(i+1) == "s") s += $i; else if ($(i+1) == "h") s += $i * 3600 } print s * 1000 }'
}
# The last record of each incident: id scope host start end measured ended timedout unreachable route
incidents() {
    awk -F'\t' 'NF >= 14 { last[$3] = $3 "\t" $4 "\t" $5 "\t" $6 "\t" $7 "\t" $8 "\t" $9 "\t" $10 "\t" $11 "\t" $14 }
        END { for (i in last) print last[i] }' "$ledger" | sort -n
}
within() { # what got want slack
    d=$(($2 - $3))
    [ "$d" -ge "-$4" ] && [ "$d" -le "$4" ] || fail "$1: $2 is not $3 to within $4 ms"
}
after() { # what got from slack: got within [from, from + slack]
    [ "$2" -ge "$(($3 - 50))" ] && [ "$2" -le "$(($3 + $4))" ] || fail "$1: $2 is not within $4 ms after $3"
}

# 1. One host stops answering and comes back.
t0=$(now_ms)
ip netns exec tgt iptables -A INPUT -p icmp --icmp-type echo-request -j DROP
wait_for 15 has_notice 'host 198.18.3.2 is down since' || fail "no notice that 198.18.3.2 is down"
import -window root "$art/e2e_notice_down.png"
wait_for 5 sh -c "grep -q 'answered\|ongoing' '$ledger'" || fail "no incident in the ledger"
sleep 4
t1=$(now_ms)
ip netns exec tgt iptables -D INPUT -p icmp --icmp-type echo-request -j DROP
wait_for 15 has_notice 'host 198.18.3.2 is up again after' || fail "no notice that 198.18.3.2 is back"
has_notice 'no host answers' && fail "one host down was taken for the whole network"
has_notice '198.18.5.2' && fail "a notice about the host that answered all along"
down=$(notices | grep 'host 198.18.3.2 is down since')
echo "$down" | grep -Eq '^host 198\.18\.3\.2 is down since [0-9]{2}:[0-9]{2}:[0-9]{2} \(3 requests timed out\)$' ||
    fail "down notice reads: $down"
up=$(notices | grep 'is up again after' | sed 's/.*after //')
wait_for 5 sh -c "awk -F'\t' '\$4 == \"host\" && \$9 == \"answered\"' '$ledger' | grep -q ." || fail "the incident did not end in the ledger"
set -- $(incidents | awk -F'\t' '$2 == "host" && $7 == "answered" { print $4, $5, $6, $8 }' | head -n 1)
start=$1 end=$2 measured=$3 lost=$4
echo "host outage: dropped at $t0, back at $t1; ledger $start..$end, measured $measured ms, $lost lost; notices: $down / up again after $up"
# The first request that went unanswered was sent at most one Delay after the
# drop; the first answered one at most a Delay and a Time-out after the end.
after "start" "$start" "$t0" $((delay + 250))
after "end" "$end" "$t1" $((delay + timeout + 250))
within "measured duration" "$measured" $((end - start)) 100
[ "$(date -d "@$((start / 1000))" +%H:%M:%S)" = "$(echo "$down" | sed 's/.*since \([0-9:]*\).*/\1/')" ] ||
    fail "the notice's time is not the incident's start"
within "notice's duration" "$(duration_ms "$up")" "$measured" 1000

# 2. The first router drops everything: one notice for the whole network.
n_before=$(notices | wc -l)
t2=$(now_ms)
ip netns exec r1 iptables -I FORWARD -p icmp --icmp-type echo-request -j DROP
wait_for 15 has_notice 'no host answers: the local network may be down' || fail "no notice for the whole network"
import -window root "$art/e2e_notice_network.png"
sleep 4
t3=$(now_ms)
ip netns exec r1 iptables -D FORWARD -p icmp --icmp-type echo-request -j DROP
wait_for 15 has_notice 'hosts answer again: the local network is back after' || fail "no notice that the network is back"
# Give any stray per-host notice its chance to arrive.
sleep 3
notices | tail -n +$((n_before + 1)) >"$work/network_notices.txt"
[ "$(wc -l <"$work/network_notices.txt")" -eq 2 ] || fail "the network outage gave other notices: $(cat "$work/network_notices.txt")"
set -- $(incidents | awk -F'\t' '$2 == "network" { print $4, $5, $6, $7 }')
[ "${4:-}" = answered ] || fail "no whole-network incident that ended: $(incidents)"
nstart=$1 nend=$2 nmeasured=$3
echo "network outage: dropped at $t2, back at $t3; ledger $nstart..$nend, measured $nmeasured ms"
after "network start" "$nstart" "$t2" $((delay + 250))
after "network end" "$nend" "$t3" $((delay + timeout + 250))
back=$(notices | grep 'local network is back after' | sed 's/.*after //')
within "network notice's duration" "$(duration_ms "$back")" "$nmeasured" 1000
[ "$(incidents | awk -F'\t' '$2 == "host" && $7 == "answered"' | wc -l)" -eq 3 ] ||
    fail "each host's own span of the outage is not in the ledger: $(incidents)"

# 3. The route snapshot of the first outage reaches the ledger.
has_route() { incidents | awk -F'\t' '$2 == "host" && $10 ~ /Tracing route to 198\.18\.3\.2/' | grep -q .; }
wait_for 60 has_route || fail "no route snapshot in the ledger"

# 4. The ledger window: Alerts > Incident ledger..., all rows, Copy.
xdotool windowactivate --sync "$(main_window)" key alt+a
sleep 0.5
xdotool key l
ledger_window() { xdotool search --onlyvisible --name '^Incidents$' 2>/dev/null | head -n 1 | grep .; }
wait_for 10 ledger_window || fail "Alerts > Incident ledger... showed no window"
eval "$(xdotool getwindowgeometry --shell "$(ledger_window)")"
pointer_to $((X + 60)) $((Y + 75)) click 1
xdotool key ctrl+a
sleep 0.5
import -window root "$art/e2e_ledger_window.png"
xdotool key alt+c
wait_for 5 sh -c 'xclip -o -selection clipboard | grep -q "Outages measured by Tarnwick"' || fail "Copy put no ticket on the clipboard"
xclip -o -selection clipboard >"$art/e2e_ticket.txt"
grep -q 'Host:       all monitored hosts (198.18.3.2, 198.18.5.2)' "$art/e2e_ticket.txt" ||
    grep -q 'Host:       all monitored hosts (198.18.5.2, 198.18.3.2)' "$art/e2e_ticket.txt" ||
    fail "the ticket lacks the whole network: $(cat "$art/e2e_ticket.txt")"
[ "$(grep -c '^Host: ' "$art/e2e_ticket.txt")" -eq 4 ] || fail "the ticket does not hold the four incidents"
lines=$(tr -d '\r' <"$art/e2e_ticket.txt" | wc -l)
convert -size 600x$((lines * 15 + 30)) xc:white -font DejaVu-Sans-Mono -pointsize 12 -fill black \
    -annotate +12+20 "$(tr -d '\r' <"$art/e2e_ticket.txt")" "$art/e2e_ticket.png" ||
    echo "note: the ticket text could not be drawn into $art/e2e_ticket.png"

# 5. SIGTERM ends it with status 0 and nothing open in the ledger.
kill -TERM "$app"
rc=0
wait "$app" || rc=$?
app=""
[ "$rc" -eq 0 ] || fail "status $rc after SIGTERM"
incidents | awk -F'\t' '$7 == "ongoing"' | grep -q . && fail "an incident was left open: $(incidents)"
echo "PASS: host and whole-network outages noticed once each and timed right, ledger, window, ticket, exit; screenshots in $art"
