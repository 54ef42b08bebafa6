#!/usr/bin/env bash
# The real program and clock helper against Debian's own kernel and its parport, parport_pc,
# ppdev and RTC drivers, under QEMU (software emulation: no KVM needed). The kernel package is
# unpacked, not installed, and kept in build/kernel for the next run. QEMU's parallel port is
# passed through to a file that a preloaded library answers for, so the host sets the status
# byte the guest reads. Nothing here touches this machine's clock: the guest's clock is set.
# Usage: kernel_test.sh <build folder> <port library to preload into QEMU> <port claimer>
set -euo pipefail
build=$(realpath "$1") preload=$(realpath "$2") claimer=$(realpath "$3")
here=$(dirname "$(realpath "$0")")
cache=$(dirname "$build")/kernel
work=$build/kernel-test
rm -rf "$work" && mkdir -p "$work/root" "$cache"
exec > >(tee "$work/summary.txt") 2>&1 # kept for reading after a run that passed
started=$(date +%s.%N)
elapsed() { awk -v s="$started" -v n="$(date +%s.%N)" 'BEGIN{printf "%.1f", n - s}'; }

# The kernel linux-image-amd64 depends on today, fetched once.
version() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
image=$(version)
[ -n "$image" ] || { apt-get update -qq && image=$(version); }
deb=$(ls "$cache/${image}_"*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$deb" ]; then
    (cd "$cache" && apt-get download -q "$image" >/dev/null 2>&1)
    deb=$(ls "$cache/${image}_"*.deb)
fi
kernel=${image#linux-image-}
if [ ! -e "$cache/$kernel/vmlinuz" ]; then
    mkdir -p "$cache/$kernel"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$cache/$kernel" --wildcards './boot/vmlinuz-*' \
        '*/drivers/parport/parport.ko*' '*/drivers/parport/parport_pc.ko*' '*/drivers/char/ppdev.ko*'
    mv "$cache/$kernel"/boot/vmlinuz-* "$cache/$kernel/vmlinuz"
fi
echo "kernel $kernel ($(basename "$deb")), unpacked after $(elapsed)s"

# The guest's root: busybox, the modules, the programs with their libraries, Qt's offscreen
# platform, one font, the zone, users and device groups.
root=$work/root
put() { mkdir -p "$root/$(dirname "$2")" && cp -L "$1" "$root/$2"; }
libraries_of() { # copies the libraries ldd lists for each program, at their own paths
    for f; do
        ldd "$f" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}' | while read -r lib; do put "$lib" "$lib"; done
    done
}
put /bin/busybox bin/busybox
put "$here/guest_init.sh" init && chmod 755 "$root/init"
for m in $(find "$cache/$kernel/lib" -name '*.ko*'); do put "$m" "lib/modules/$(basename "$m")"; done
qt=/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqoffscreen.so
put "$build/app/larkmoor" usr/bin/larkmoor
put "$build/app/larkmoor-set-clock" usr/libexec/larkmoor/larkmoor-set-clock
put "$claimer" usr/bin/port_claimer
put "$qt" "$qt"
put /usr/sbin/setcap usr/sbin/setcap
libraries_of "$build/app/larkmoor" "$build/app/larkmoor-set-clock" "$claimer" "$qt" /usr/sbin/setcap
put /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
put /etc/fonts/fonts.conf etc/fonts/fonts.conf
put /usr/share/zoneinfo/Asia/Kolkata usr/share/zoneinfo/Asia/Kolkata
mkdir -p "$root/etc" "$root/home/studio/run" "$root/proc" "$root/sys" "$root/dev"
printf 'root:x:0:0::/root:/bin/sh\nstudio:x:1000:1000::/home/studio:/bin/sh\nsecond:x:1001:1001::/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nlp:x:7:studio,second\nlarkmoor:x:999:studio,second\n_larkmoor-rtc:x:998:\nstudio:x:1000:\nsecond:x:1001:\n' >"$root/etc/group"
printf 'parport[0-9]* root:lp 660\nrtc0 root:_larkmoor-rtc 640\n' >"$root/etc/mdev.conf"
(cd "$root" && find . | cpio -o -H newc --owner=0:0 2>/dev/null) >"$work/initrd"
echo "initramfs $(( $(stat -c %s "$work/initrd") / 1048576 )) MiB after $(elapsed)s"

# The port's file: byte 0 is the status register (open contact: pins 10-13 and 15 high).
printf '\x7f%027d' 0 >"$work/lpt"
status_reads() { dd if="$work/lpt" bs=1 skip=16 count=12 2>/dev/null | sed 's/^0*//;s/^$/0/'; }

coproc QEMU { LD_PRELOAD=$preload exec timeout 400 qemu-system-x86_64 -machine pc,accel=tcg -m 768 \
    -nographic -no-reboot -nic none -kernel "$cache/$kernel/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyS0 loglevel=3 panic=-1" -parallel none \
    -chardev parallel,id=lpt,path="$work/lpt" -device isa-parallel,chardev=lpt,iobase=0x378,irq=7 2>&1; }
qemu=$QEMU_PID
exec {from_guest}<&"${QEMU[0]}" {to_guest}>&"${QEMU[1]}"
failed=0 done=0
while IFS= read -r line <&"$from_guest"; do
    line=${line%$'\r'}
    echo "$line" >>"$work/console.log"
    case $line in
    "@host contact "*)
        printf "\\x${line#@host contact }" | dd of="$work/lpt" bs=1 count=1 conv=notrunc 2>/dev/null
        echo ok >&"$to_guest" ;;
    "@host reads") echo "$(status_reads)" >&"$to_guest" ;;
    *"@ready"*) echo "booted: ${line#*@}, $(elapsed)s after the start of this test" ;;
    "@check FAIL"*) echo "$line  [$(elapsed)s]"; failed=1 ;;
    "@done"*) echo "$line, $(elapsed)s in all"; done=1 ;;
    @*) echo "$line  [$(elapsed)s]" ;;
    esac
done
wait "$qemu" 2>/dev/null || true
[ $done = 1 ] || { echo "FAIL: the guest did not finish; its console is in $work/console.log"; tail -n 30 "$work/console.log"; exit 1; }
exit $failed
