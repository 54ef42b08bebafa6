#!/bin/sh
# The Debian package: no lintian errors, its layout and dependencies; and, as root, what its
# maintainer scripts do over an install, a reinstall, an administrator's statoverride, a
# removal, a purge and an install after it. Installing happens in a throw-away root, never on this machine: a chroot
# into an overlay of / in a mount namespace of this test's own, whose mounts go when it ends,
# however it ends.
# Usage: package_test.sh <build folder>
set -eu
fail() { echo "FAIL: $*"; exit 1; }
folder=/usr/libexec/larkmoor
helper=$folder/larkmoor-set-clock

if [ "${1-}" = --inside ]; then
    # In the mount namespace: $2 is a scratch folder, $3 the package.
    mount -t tmpfs larkmoor-test "$2"
    mkdir "$2/upper" "$2/work" "$2/root"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$2/upper,workdir=$2/work" "$2/root"
    # No udev, and devices of its own: nothing of this machine's.
    mount -t tmpfs larkmoor-test "$2/root/run"
    mount -t tmpfs larkmoor-test "$2/root/dev"
    mount -t proc proc "$2/root/proc" # as on any running system
    mknod "$2/root/dev/null" c 1 3
    chmod 0666 "$2/root/dev/null"
    cp "$3" "$2/root/tmp/larkmoor.deb"
    cd "$2/root"
    inroot() { chroot . "$@"; }
    modes() { inroot stat -c '%a %U %G' "$@" | tr '\n' ' '; }
    # Who may start the helper, tried without cap_sys_time in the bounding set, so that it can
    # never set the clock: the folder refuses a user outside the group larkmoor (Permission
    # denied); the kernel refuses a member the capability (Operation not permitted). A shell
    # starts it, as setpriv itself would start it still privileged.
    run_as() { # nobody, in the groups given
        inroot setpriv --reuid=65534 --regid=65534 --groups="$1" --bounding-set=-sys_time \
            --inh-caps=-all sh -c 'exec "$0"' "$helper" 2>&1 || true
    }
    expect() { [ "$1" = "$2" ] || fail "$3: '$1', expected '$2'"; }

    # Stand-ins that record their calls: hwclock, and udevadm doing udevd's part in an event for
    # the rtc, which runs Debian's hwclock-set as its 85-hwclock.rules does. Without systemd, as
    # here, that sets the system clock from the hardware clock.
    mkdir -p run/udev
    printf '#!/bin/sh\necho "$*" >>/tmp/hwclock.calls\n' >usr/sbin/hwclock
    printf '#!/bin/sh\ncase "$*" in trigger*rtc*|trigger) /usr/lib/udev/hwclock-set /dev/rtc0 ;; esac\n' \
        >usr/bin/udevadm
    chmod 755 usr/sbin/hwclock usr/bin/udevadm
    inroot mknod /dev/rtc0 c 252 0 && inroot chmod 0600 /dev/rtc0

    inroot dpkg -i /tmp/larkmoor.deb >/dev/null || fail "dpkg -i"
    inroot dpkg -i /tmp/larkmoor.deb >/dev/null || fail "dpkg -i again" # a fresh helper: no capability
    expect "$(modes $folder $helper /dev/rtc0)" \
        "750 root larkmoor 2755 root _larkmoor-rtc 640 root _larkmoor-rtc " "installed"
    expect "$(inroot getcap $helper)" "$helper cap_sys_time=ep" "helper's capability"
    expect "$(modes /var/lib/larkmoor /var/lib/larkmoor/lock)" "3770 root larkmoor 640 root larkmoor " "lock"
    expect "$(inroot getcap /usr/bin/larkmoor)" "" "window program's capability"
    case $(run_as 65534) in *"Permission denied"*) ;; *) fail "a user outside the group: $(run_as 65534)" ;; esac
    case $(run_as "$(inroot getent group larkmoor | cut -d: -f3)") in
        *"Operation not permitted"*) ;; *) fail "a member of the group" ;; esac

    # An administrator's statoverride stays, and the helper still gets its capability.
    inroot dpkg-statoverride --remove $helper 2>/dev/null || fail "no statoverride for the helper"
    inroot dpkg-statoverride --update --add root root 0700 $helper
    inroot dpkg -i /tmp/larkmoor.deb >/dev/null || fail "dpkg -i with a statoverride"
    expect "$(modes $helper)$(inroot getcap $helper)" "700 root root $helper cap_sys_time=ep" \
        "under the administrator's statoverride"

    # The hardware clock goes back to root alone on removal. A purge keeps the groups, and an
    # install after it every member, even one whose primary group is larkmoor.
    inroot gpasswd -a nobody larkmoor >/dev/null
    inroot useradd --system --gid larkmoor larkmoor-station
    inroot dpkg -r larkmoor >/dev/null || fail "dpkg -r"
    expect "$(modes /dev/rtc0)" "600 root root " "the hardware clock after removal"
    inroot dpkg --purge larkmoor >/dev/null || fail "dpkg --purge"
    expect "$(inroot dpkg-statoverride --list | grep -c larkmoor)" 0 "statoverrides after purge"
    [ ! -e "./$folder" ] || fail "$folder is left after purge"
    inroot dpkg -i /tmp/larkmoor.deb >/dev/null || fail "dpkg -i after purge"
    expect "$(inroot getent group larkmoor | cut -d: -f4)" nobody "members of larkmoor"
    [ ! -e tmp/hwclock.calls ] || fail "hwclock was run: $(cat tmp/hwclock.calls)"
    echo "install, reinstall, statoverride, removal, purge and install again in a throw-away" \
        "root: as expected, and hwclock never run"
    exit 0
fi

cmake --build "$1" --target package >/dev/null
deb=$(ls "$1"/larkmoor_*_*.deb)
command -v lintian >/dev/null || fail "lintian is not installed"
lintian "$deb" 2>/dev/null | grep "^E:" && fail "lintian reports errors"
listing=$(dpkg-deb -c "$deb")
has() { echo "$listing" | grep -Eq "$1" || fail "not in the package as expected: $1"; }
has "^-rwxr-xr-x root/root .* \.$helper\$"
has '^-rwxr-xr-x root/root .* \./usr/bin/larkmoor$'
has '^-rw-r--r-- root/root .* \./usr/lib/udev/rules\.d/60-larkmoor\.rules$'
[ "$(echo "$listing" | grep -c 'larkmoor-set-clock$')" = 1 ] || fail "a second helper, on PATH?"
for package in libcap2-bin passwd qt6-qpa-plugins; do
    dpkg-deb -f "$deb" Depends | grep -q "$package" || fail "no dependency on $package"
done

[ "$(id -u)" = 0 ] || { echo "not root: installing the package is not tried"; exit 0; }
scratch=$(mktemp -d)
trap 'rmdir "$scratch"' EXIT
unshare --mount --propagation private sh "$0" --inside "$scratch" "$(realpath "$deb")"
