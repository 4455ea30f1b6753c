#!/bin/sh
# Checks run inside the test guest, as root and as ofsuser (group cdrom).
# Drive 0 (ide.1 master) holds a disc, drive 1 (ide.1 slave) is empty.

ok() { echo "OFSCHECK ok $1"; }
fail() { echo "OFSCHECK FAIL $1"; }
check() {
  name="$1"
  shift
  if "$@"; then ok "$name"; else fail "$name"; fi
}
as_user() { su -s /bin/sh ofsuser -c "$*"; }

# What udev does on a desktop: the drive nodes belong to group cdrom.
chgrp cdrom /dev/sr* /dev/sg* 2>/dev/null
chmod 660 /dev/sr* /dev/sg* 2>/dev/null

check "sg and sr nodes" test -c /dev/sg0 -a -c /dev/sg1 -a -b /dev/sr0 -a -b /dev/sr1
check "emulated drives identify as QEMU DVD-ROM" \
  test "$(grep -l '^QEMU DVD-ROM' /sys/class/scsi_device/*/device/model | wc -l)" -eq 2
check "user is in group cdrom" sh -c 'su -s /bin/sh ofsuser -c id | grep -q "(cdrom)"'
