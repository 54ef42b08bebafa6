#!/bin/sh
# The window program on a private system bus of Debian's dbus-daemon, with the system's own
# service files (timedated's among them), for 15 s each: where systemd does not run it asks the
# bus nothing at all; where it runs (/run/systemd/system, made in a mount namespace of this test's
# own) it asks systemd once at its start and not again within the minute. The bus never starts a
# service for it. Needs root, for the mount namespace.
# Usage: bus_test.sh <build folder>
set -eu
[ "$(id -u)" = 0 ] || { echo "needs root: a mount namespace"; exit 0; }
work=$1/bus-test
rm -rf "$work" && mkdir -p "$work"
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <standard_system_servicedirs/>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow eavesdrop="true"/>
    <allow send_destination="*" eavesdrop="true"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nosyslog 2>"$work/bus.log" &
bus=$!
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
trap 'kill $bus $monitor 2>/dev/null' EXIT
until [ -S "$work/bus" ]; do sleep 0.1; done
dbus-monitor --system >>"$work/monitor.log" 2>&1 &
monitor=$!
failed=0
for systemd in no yes; do
    # A /run of its own, with this user's runtime folder in it, where its lock then lives: no
    # Larkmoor of this machine's is met, and /run/systemd is ours. /tmp stays, since the build
    # (and the program) may be there.
    QT_QPA_PLATFORM=offscreen timeout 15 unshare -m --propagation private sh -c '
        mount -t tmpfs larkmoor-test /run && mkdir -p /run/user/$(id -u) &&
        if [ "$1" = yes ]; then mkdir -p /run/systemd/system; fi && exec "$2"' \
        sh "$systemd" "$1/app/larkmoor" >"$work/larkmoor-$systemd.log" 2>&1 || true
    sleep 0.5
    asks=$(grep -c 'method call.*destination=org.freedesktop.\(systemd1\|timedate1\)' "$work/monitor.log" || true)
    started=$(grep -c 'Activating' "$work/bus.log" || true)
    expected=$([ $systemd = yes ] && echo 1 || echo 0)
    echo "systemd $systemd: $asks asks of systemd or timedated in 15 s, $started services started"
    [ "$asks" = "$expected" ] && [ "$started" = 0 ] || failed=1
    : >"$work/monitor.log"
done
exit $failed
