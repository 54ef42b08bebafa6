#!/bin/sh
# The Debian package: its layout and modes, and, as root, what its post-install script leaves on
# an install and on a reinstall; the package is purged again at the end.
# Usage: package_test.sh <build folder>
set -eu
fail() { echo "FAIL: $*"; exit 1; }
helper=/usr/libexec/larkmoor/larkmoor-set-clock

cmake --build "$1" --target package >/dev/null
deb=$(ls "$1"/larkmoor_*_*.deb)
listing=$(dpkg-deb -c "$deb")
has() { echo "$listing" | grep -Eq "$1" || fail "not in the package as expected: $1"; }
has "^-rwxr-x--- root/root .* \.$helper\$"
has '^-rwxr-xr-x root/root .* \./usr/bin/larkmoor$'
has '^-rw-r--r-- root/root .* \./usr/lib/udev/rules\.d/60-larkmoor\.rules$'
[ "$(echo "$listing" | grep -c 'larkmoor-set-clock$')" = 1 ] || fail "a second helper, on PATH?"
dpkg-deb -f "$deb" Depends | grep -q 'libcap2-bin' || fail "no dependency on libcap2-bin"

[ "$(id -u)" = 0 ] || { echo "not root: installing the package is not tried"; exit 0; }
exec 9>/var/lock/larkmoor-package-test # one install at a time on this machine
flock 9
if dpkg -s larkmoor >/dev/null 2>&1; then echo "larkmoor is installed here: not touched"; exit 0; fi
trap 'dpkg --purge larkmoor >/dev/null 2>&1 || true' EXIT
installed() {
    [ "$(stat -c '%a %U %G' $helper)" = "750 root larkmoor" ] || fail "$(stat -c '%a %U %G' $helper)"
    getcap $helper | grep -q ' cap_sys_time=ep$' || fail "helper: $(getcap $helper)"
    [ -z "$(getcap /usr/bin/larkmoor)" ] || fail "window program: $(getcap /usr/bin/larkmoor)"
}
dpkg -i "$deb" >/dev/null || fail "dpkg -i"
installed
dpkg -i "$deb" >/dev/null || fail "dpkg -i again" # unpacks a fresh helper: no group, no capability
installed
echo "layout, modes and post-install script: as expected"
