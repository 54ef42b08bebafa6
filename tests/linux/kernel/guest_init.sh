#!/bin/busybox sh
# /init of the test machine (Debian's kernel under QEMU). Loads the parallel port drivers, runs
# the real window program as an unprivileged user with the real clock helper, and checks them
# against the kernel. The contact is set by the host: "@host contact 7f" asks for a status byte,
# and the host answers with a line. Results are "@check ok|FAIL <name> (<detail>)" lines.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/usr/sbin
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp /run && chmod 1777 /tmp
# Device groups and modes as the package's and Debian's udev rules give them, after each change.
devices() { mdev -s; }
devices
chown -R studio:studio /home/studio && chmod 700 /home/studio/run

up() { cut -d' ' -f1 /proc/uptime; }
host() { echo "@host $*" >/dev/console; read -r reply </dev/console; }
contact() { host contact "$1"; }
reads() { host reads; echo "$reply" | tr -dc 0-9; }
check() { # <name> <true|false> <detail>
    if [ "$2" = true ]; then echo "@check ok $1 ($3)"; else echo "@check FAIL $1 ($3)"; fi
}
# Runs the command every 0.1 s until it succeeds or <seconds> pass; $took says how long it took.
within() {
    local limit=$1 start=$(up) tries=0
    shift
    until "$@"; do
        tries=$((tries + 1))
        [ $tries -ge $((limit * 10)) ] && took="over ${limit}s" && return 1
        sleep 0.1
    done
    took="$(awk "BEGIN{printf \"%.2f\", $(up) - $start}")s"
}
holds() { ls -l /proc/"$pid"/fd 2>/dev/null | grep -q " /dev/$1\$"; }
holds_none() { ! ls -l /proc/"$pid"/fd 2>/dev/null | grep -q parport; }
minute() { date +%M; }
set_at() { minute | grep -q 54; }
not_set_after() { sleep "$1"; ! set_at; }
rtc_minute() { cut -d: -f2 /sys/class/rtc/rtc0/time; }
as_user() { su -s /bin/sh studio -c "QT_QPA_PLATFORM=offscreen HOME=/home/studio XDG_RUNTIME_DIR=/home/studio/run $*"; }
# One closure: open, closed; true when the clock was set within 3 s.
closure() {
    contact 7f
    sleep 0.5
    date -s "$(date +%H):20:00" >/dev/null
    contact 77
    within 3 set_at
}

echo "@ready at $(up)s"
for m in parport parport_pc ppdev; do insmod /lib/modules/$m.ko || echo "@check FAIL insmod $m"; done
within 10 test -e /dev/parport0
devices
check "port found" "$(test -c /dev/parport0 && echo true)" "$(ls -l /dev/parport0 | awk '{print $1, $3, $4}'), base $(cat /proc/sys/dev/parport/parport0/base-addr)"
# The helper as the package's post-install script leaves it.
chown root:larkmoor /usr/libexec/larkmoor && chmod 0750 /usr/libexec/larkmoor
chown root:_larkmoor-rtc /usr/libexec/larkmoor/larkmoor-set-clock
chmod 2755 /usr/libexec/larkmoor/larkmoor-set-clock
setcap cap_sys_time+ep /usr/libexec/larkmoor/larkmoor-set-clock
pnp=$(ls /sys/bus/pnp/drivers/parport_pc | grep '^00:')
# The lock's folder and the lock, as the package's post-install script makes them (kept across
# restarts: this machine runs no systemd and starts with an empty /run).
folder=/var/lib/larkmoor
mkdir -p $folder && chown root:larkmoor $folder && chmod 3770 $folder
: >$folder/lock && chown root:larkmoor $folder/lock && chmod 0640 $folder/lock
# The process that holds the lock, as the kernel lists it.
lock_holder() { awk -v i=":$(stat -c %i $folder/lock) " 'index($0, i) && /FLOCK/ {print $5}' /proc/locks; }
lock_free() { [ -z "$(lock_holder)" ]; }
# The newest Larkmoor besides $pid.
other_than() { pidof larkmoor | tr ' ' '\n' | grep -vx "$1" | head -n 1; }

# What the kernel does to a port removed under a program that holds it.
contact 7f
port_claimer /dev/parport0 >/tmp/claimer.log &
claimer=$!
sleep 1
check "rmmod refused while the port is held" "$(! rmmod ppdev && ! rmmod parport_pc && echo true)" \
    "$(lsmod | awk '/^(ppdev|parport_pc|parport) / {printf "%s used by %s; ", $1, $3}')"
echo "$pnp" >/sys/bus/pnp/drivers/parport_pc/unbind
sleep 1
echo "@kernel after unbind: /dev/parport0 $(test -e /dev/parport0 && echo exists || echo gone)," \
    "/sys/class/ppdev/parport0 $(test -e /sys/class/ppdev/parport0 && echo exists || echo gone)," \
    "/proc/sys/dev/parport: $(ls /proc/sys/dev/parport | tr '\n' ' ')," \
    "parport0 holds: $(ls /proc/sys/dev/parport/parport0 2>/dev/null | tr '\n' ' ')," \
    "held descriptor reads: $(tail -n 1 /tmp/claimer.log)"
check "a removed port reads 0x00 through a held descriptor" \
    "$(tail -n 1 /tmp/claimer.log | grep -q 'status 0x00' && echo true)" "$(tail -n 1 /tmp/claimer.log)"
# Bound again while parport0 is still held: the port comes back as parport1.
echo "$pnp" >/sys/bus/pnp/drivers/parport_pc/bind
within 10 test -e /dev/parport1
devices

# The real program, as a user in the groups lp and larkmoor, in a +05:30 zone.
cp /usr/share/zoneinfo/Asia/Kolkata /etc/localtime
date -s "10:20:00" >/dev/null
started=$(up)
as_user /usr/bin/larkmoor >/tmp/larkmoor.log 2>&1 &
within 30 pidof larkmoor >/dev/null
pid=$(pidof larkmoor)
within 30 holds parport1
check "holds /dev/parport1, not the removed parport0, through ppdev" "$(holds parport1 && echo true)" \
    "$(awk "BEGIN{printf \"%.1f\", $(up) - $started}")s after start, active: $(cat /proc/sys/dev/parport/parport1/devices/active)"
kill $claimer # parport0 goes
check "no set while the contact is open" "$(not_set_after 3 && echo true)" "3 s, clock at minute $(minute)"

closure
check "a closure sets hh:54:30" "$(set_at && echo true)" "after $took: $(date +%T)"
check "RTC in UTC without /etc/adjtime" "$([ "$(rtc_minute)" = 24 ] && echo true)" "RTC $(cat /sys/class/rtc/rtc0/time) for local $(date +%T) at +05:30"
date -s "10:20:00" >/dev/null
check "one set per closure (held 3 s)" "$(not_set_after 3 && echo true)" "clock at $(date +%T)"
printf '0.0 0 0.0\n0\nLOCAL\n' >/etc/adjtime
closure
check "next closure sets again" "$(set_at && echo true)" "after $took"
check "RTC in local time under LOCAL" "$([ "$(rtc_minute)" = 54 ] && echo true)" "RTC $(cat /sys/class/rtc/rtc0/time)"
rm /etc/adjtime

# The port removed under the running program: its descriptor now reads 0x00 (closed).
contact 7f
sleep 0.5
date -s "10:20:00" >/dev/null
echo "$pnp" >/sys/bus/pnp/drivers/parport_pc/unbind
within 5 holds_none
check "removed port released" "$(holds_none && echo true)" "after $took"
check "no set from a removed port" "$(not_set_after 3 && echo true)" "3 s, clock at $(date +%T)"
# Bound again: parport0 now (the lowest free number), read again within 5 s.
echo "$pnp" >/sys/bus/pnp/drivers/parport_pc/bind
devices
within 8 holds parport0
check "port back as parport0 claimed within 5 s" "$(holds parport0 && awk "BEGIN{exit !(${took%s} <= 5)}" && echo true)" "after $took"
r0=$(reads)
sleep 1
r1=$(reads)
check "parport0 read" "$([ $((r1 - r0)) -ge 10 ] && echo true)" "$((r1 - r0)) status reads in 1 s"
closure
check "a closure on the port found again sets the clock" "$(set_at && echo true)" "after $took"

# Another program waits to claim the port: every ppdev call waits with it.
contact 7f
sleep 0.5
port_claimer /dev/parport0 >/tmp/claimer.log &
claimer=$!
sleep 1.5
r0=$(reads)
s0=$(awk '/^voluntary_ctxt_switches/ {print $2}' /proc/"$pid"/task/"$pid"/status)
sleep 2
r1=$(reads)
s1=$(awk '/^voluntary_ctxt_switches/ {print $2}' /proc/"$pid"/task/"$pid"/status)
state=$(awk '/^State/ {print $2}' /proc/"$pid"/task/"$pid"/status)
check "ticks go on while ppdev is held up" "$([ $((s1 - s0)) -ge 20 ] && [ "$state" != D ] && echo true)" \
    "window thread woke $((s1 - s0)) times in 2 s (state $state); $((r1 - r0)) status reads"
# Ended (SIGTERM) meanwhile: the process stays until the kernel lets its reading thread go, but it
# lets go of the PC at once, and a new start takes over without waiting for it.
old=$pid
kill $old
within 2 lock_free
check "ended while ppdev is held up, it lets go of the PC at once" "$(lock_free && echo true)" \
    "after $took; the process $(test -e /proc/$old/status && echo "is still there" || echo "has gone")"
started=$(up)
as_user /usr/bin/larkmoor >/tmp/larkmoor.log 2>&1 &
new_holds() { [ -n "$(other_than $old)" ] && [ "$(lock_holder)" = "$(other_than $old)" ]; }
within 30 new_holds
pid=$(other_than $old)
check "a new start takes over while the ended one lingers" \
    "$(new_holds && echo true)" "$(awk "BEGIN{printf \"%.1f\", $(up) - $started}")s after its start; the ended one $(test -e /proc/$old/status && echo "is still there" || echo "has gone")"
kill -9 $claimer
wait $claimer 2>/dev/null
reading_again() { [ $(($(reads) - r1)) -ge 5 ]; }
within 5 reading_again
closure
check "reads and sets again once ppdev is free" "$(set_at && echo true)" "after $took"

# A second start: it ends, the first window stays and still acts.
raised=$(grep -c 'raise()' /tmp/larkmoor.log)
second_start=$(up)
as_user timeout 20 /usr/bin/larkmoor >/tmp/second.log 2>&1
status=$?
sleep 0.5
check "a second start ends and the first raises its window" \
    "$([ $status = 0 ] && [ "$(pidof larkmoor)" = "$pid" ] && [ "$(grep -c 'raise()' /tmp/larkmoor.log)" -gt "$raised" ] && echo true)" \
    "status $status after $(awk "BEGIN{printf \"%.1f\", $(up) - $second_start}")s; running: $(pidof larkmoor); Qt: $(tail -n 1 /tmp/larkmoor.log)"
closure
check "the first still sets the clock" "$(set_at && echo true)" "after $took"

# Another member of larkmoor can neither remove the lock nor move or remove the holder's socket
# (the folder's sticky bit); its start waits beside the running one, and takes over once that ends.
as_second() { su -s /bin/sh second -c "QT_QPA_PLATFORM=offscreen HOME=/tmp $*"; }
as_second "rm -f $folder/lock; mv -f $folder/1000.socket $folder/x; rm -f $folder/1000.socket" 2>/dev/null
check "a member can neither remove the lock nor replace the holder's socket" \
    "$([ -f $folder/lock ] && [ -S $folder/1000.socket ] && [ "$(lock_holder)" = "$pid" ] && echo true)" \
    "$(ls -l $folder | tail -n +2 | tr '\n' '|')"
as_second /usr/bin/larkmoor >/tmp/member.log 2>&1 &
within 30 sh -c "pidof larkmoor | grep -q ' '"
sleep 3
member=$(other_than $pid)
check "a member's start waits beside the running one" \
    "$([ -n "$member" ] && [ "$(lock_holder)" = "$pid" ] && echo true)" "holder $(lock_holder), member's start $member"
kill $pid
member_holds() { [ "$(lock_holder)" = "$member" ]; }
within 5 member_holds
check "and takes over once it has ended" "$(member_holds && echo true)" "after $took"
kill $member
within 5 sh -c '! pidof larkmoor >/dev/null'

# Another program holds the port, and a new Larkmoor claims it all the same (its look at
# devices/active shown "none", as in the instant between two uses of the port by that program):
# the claim, which holds ppdev's lock while it waits, is cut short, so the other program's
# release is not held up; once it has let go, Larkmoor claims the port within 5 s.
kill $pid
within 5 sh -c '! pidof larkmoor >/dev/null'
contact 7f
port_claimer /dev/parport0 release >/tmp/release.log 2>&1 &
claimer=$!
sleep 0.5
echo none >/tmp/active
mount -o bind /tmp/active /proc/sys/dev/parport/parport0/devices/active
as_user /usr/bin/larkmoor >/tmp/larkmoor.log 2>&1 &
within 30 pidof larkmoor >/dev/null
pid=$(pidof larkmoor)
sleep 4 # its first look, at its start, has claimed
kill -USR1 $claimer
within 1 grep -q released /tmp/release.log
check "another program's release is not held up by Larkmoor's claim" \
    "$(grep -q released /tmp/release.log && echo true)" "after $took"
umount /proc/sys/dev/parport/parport0/devices/active
kill -9 $claimer 2>/dev/null
within 8 holds parport0
check "claimed once the other let go" "$(holds parport0 && echo true)" "after $took"
closure
check "then sets the clock" "$(set_at && echo true)" "after $took"

# The helper alone, with its real capability: its line in the system log (authpriv) names the
# set before making it, stamped with the time before it, and the outcome comes after; under
# no_new_privs the kernel starts it without cap_sys_time, and it sets nothing and says why.
syslogd -O /tmp/messages
date -s "10:20:00" >/dev/null
as_user /usr/libexec/larkmoor/larkmoor-set-clock >/dev/null
named=$(grep -c ' 10:20:0.* authpriv.notice larkmoor-set-clock\[[0-9]*\]: uid 1000 sets the clock from .* 10:20:0.* to .* 10:54:30 IST' /tmp/messages)
outcome=$(grep -c ' 10:54:3.* larkmoor-set-clock\[[0-9]*\]: uid 1000: clock set; hardware clock /dev/rtc0 written' /tmp/messages)
check "the helper logs its set before making it, and its outcome after" \
    "$([ "$named$outcome" = 11 ] && echo true)" "$(tr '\n' '|' </tmp/messages)"
date -s "10:20:00" >/dev/null
as_user setpriv --nnp /usr/libexec/larkmoor/larkmoor-set-clock >/dev/null
status=$?
check "under no_new_privs the helper sets nothing and says so" \
    "$([ $status = 125 ] && ! set_at && grep -q 'nothing set: started under no_new_privs' /tmp/messages && echo true)" \
    "status $status, clock at $(date +%T)"

# Without /etc/localtime the system is in UTC, and the helper sets the clock in it.
mv /etc/localtime /etc/localtime.kept
date -u -s "10:20:00" >/dev/null
as_user /usr/libexec/larkmoor/larkmoor-set-clock >/dev/null
status=$?
check "without /etc/localtime the helper sets hh:54:30 UTC" \
    "$([ $status = 0 ] && [ "$(date -u +%M:%S | cut -c1-4)" = 54:3 ] && echo true)" \
    "status $status, clock at $(date -u +%T) UTC"
mv /etc/localtime.kept /etc/localtime

# Without the package's folder (a build tree): one Larkmoor per user, in a folder of its own.
kill $pid
within 5 sh -c '! pidof larkmoor >/dev/null'
mv $folder $folder.kept
as_user /usr/bin/larkmoor >/tmp/larkmoor.log 2>&1 &
within 30 sh -c "pidof larkmoor >/dev/null"
pid=$(pidof larkmoor)
sleep 2
as_user timeout 20 /usr/bin/larkmoor >/tmp/second.log 2>&1
status=$?
check "without the package's folder a second start of the same user shows the first" \
    "$([ $status = 0 ] && [ "$(pidof larkmoor)" = "$pid" ] && [ "$(stat -c '%a %U' /tmp/larkmoor-1000)" = "700 studio" ] && echo true)" \
    "status $status; running: $(pidof larkmoor); $(stat -c '%a %U' /tmp/larkmoor-1000)"
kill $pid
mv $folder.kept $folder

echo "@larkmoor said: $(tr '\n' '|' </tmp/larkmoor.log)"
echo "@done at $(up)s"
poweroff -f
