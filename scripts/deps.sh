#!/usr/bin/env bash
# Installs what the builds and tests need, with apt-get, only when something is missing.
set -euo pipefail
. "$(dirname "$0")/machine.sh"

packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev qt6-qpa-plugins
          g++-mingw-w64-i686 wine xvfb xauth x11-utils imagemagick python3 dpkg-dev file libcap2-bin
          lintian tzdata util-linux-extra qemu-system-x86 busybox-static cpio fonts-dejavu-core
          nsis dbus-daemon dbus-bin)
# The Windows tests run under 32-bit Wine; on the x86-64 path (a kernel that runs no 32-bit
# programs, or LARKMOOR_WINDOWS_X64=1) they are built for x86-64 and run under 64-bit Wine.
if runs_32bit_programs; then
  packages+=(wine32)
fi
if windows_x64_path; then
  packages+=(wine64 g++-mingw-w64-x86-64-win32)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}; run this as root to install them." >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
if [[ " ${missing[*]} " == *" wine32 "* ]]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
