#!/usr/bin/env bash
# run-qemu-checks.sh BUILD_DIR: boots a small Linux guest under QEMU with two
# emulated IDE ATAPI DVD drives (one holding a disc, one empty) and runs ofstool
# from BUILD_DIR inside it through the kernel's SG_IO path (sg and sr); then a
# second guest whose two drives sit behind QEMU's USB bridges.
# Simulated drives served by BUILD_DIR's ofs-tcmu-handler sit behind the kernel's
# SCSI target, so whole flashes go through the kernel too.
# Needs qemu-system-x86, busybox-static, cpio and kmod; the kernel comes from the
# Debian archive and is cached in BUILD_DIR/qemu-kernel.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
ofstool="$build/tools/ofstool"
mkofs="$build/tools/mkofs"
handler="$build/tests/qemu/ofs-tcmu-handler"
qemu="${OFS_QEMU:-qemu-system-x86_64}"
# Software emulation by default: CI machines need not offer KVM.
accel="${OFS_QEMU_ACCEL:-tcg}"
# Seconds each guest may take; a loaded machine may need more.
limit="${OFS_QEMU_TIME_LIMIT:-150}"

for tool in "$qemu" cpio depmod; do
  command -v "$tool" >/dev/null || { echo "qemu checks: $tool missing" >&2; exit 1; }
done
busybox=/bin/busybox
ldd "$busybox" >/dev/null 2>&1 && { echo "qemu checks: $busybox is not static (install busybox-static)" >&2; exit 1; }
[ -x "$ofstool" ] && [ -x "$mkofs" ] && [ -x "$handler" ] ||
  { echo "qemu checks: build ofstool, mkofs and ofs-tcmu-handler in $build first" >&2; exit 1; }

"$here/fetch-kernel.sh" "$build/qemu-kernel"
kernel="$build/qemu-kernel/current"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,etc,lib/modules,ofs,home/ofsuser}

cp "$busybox" "$root/bin/busybox"
cp "$kernel"/modules/*.ko "$kernel/modules.load" "$kernel/missing-modules" "$root/lib/modules/"
cp "$here/guest-init.sh" "$root/init"
cp "$here/guest-checks.sh" "$root/checks.sh"
cp "$here/guest-tcmu-checks.sh" "$root/tcmu-checks.sh"
cp "$here/guest-usb-checks.sh" "$root/usb-checks.sh"

# The programs with their shared libraries and loader at their own paths.
for program in "$ofstool" "$handler"; do
  cp "$program" "$root/ofs/"
  strip "$root/ofs/$(basename "$program")" 2>/dev/null || true
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done

cat >"$root/etc/passwd" <<'PASSWD'
root:x:0:0:root:/root:/bin/sh
ofsuser:x:1000:1000:ofsuser:/home/ofsuser:/bin/sh
PASSWD
cat >"$root/etc/group" <<'GROUP'
root:x:0:
cdrom:x:24:ofsuser
ofsuser:x:1000:
GROUP
chown 1000:1000 "$root/home/ofsuser"

sh "$here/make-guest-data.sh" "$mkofs" "$root/ofs"
g++ -std=c++20 -O2 -static -o "$root/ofs/guest-helper" "$here/guest-helper.cpp"

(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initrd"
# The disc: a blank data medium is enough for the drive to report one.
truncate -s 4M "$work/disc.img"

start=$(date +%s)
log="$build/qemu-checks.log"
timeout "$limit" "$qemu" -machine pc -accel "$accel" -m 384 -nodefaults -no-reboot -display none \
  -serial stdio -kernel "$kernel/vmlinuz" -initrd "$work/initrd" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" \
  -drive if=none,id=disc,media=cdrom,format=raw,readonly=on,file="$work/disc.img" \
  -device ide-cd,drive=disc,bus=ide.1,unit=0 \
  -device ide-cd,bus=ide.1,unit=1 \
  </dev/null >"$log" 2>&1 || true
# The second guest: two empty SCSI CDs behind QEMU's USB bridges (Bulk-Only and UAS) on xHCI.
if grep -qx uas.ko "$kernel/modules.load" && grep -qx xhci-pci.ko "$kernel/modules.load"; then
  timeout "$limit" "$qemu" -machine pc -accel "$accel" -m 384 -nodefaults -no-reboot -display none \
    -serial stdio -kernel "$kernel/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 ofs.checks=usb" \
    -device qemu-xhci,id=xhci \
    -drive if=none,id=botcd,media=cdrom -device usb-bot,id=bot,bus=xhci.0 -device scsi-cd,bus=bot.0,drive=botcd \
    -drive if=none,id=uascd,media=cdrom -device usb-uas,id=uas,bus=xhci.0 -device scsi-cd,bus=uas.0,drive=uascd \
    </dev/null >>"$log" 2>&1 || true
else
  echo "OFSCHECK FAIL the guest kernel lacks the xHCI or uas module" >>"$log"
fi
# Read from a file: grep -q ends early, and under pipefail a writer into it would fail.
results="$work/results"
tr -d '\r' <"$log" | grep '^OFSCHECK' >"$results" || true
cat "$results"
echo "qemu checks: guests ran $(($(date +%s) - start)) s (log: $log)"

# Each guest ends with its own END line.
[ "$(grep -c '^OFSCHECK END' "$results")" -eq 2 ] || { echo "qemu checks: a guest did not finish" >&2; exit 1; }
if grep -q '^OFSCHECK FAIL' "$results"; then
  echo "qemu checks: FAILED" >&2
  exit 1
fi
echo "qemu checks: passed"
