#!/bin/busybox sh
# First process of the test guest: mounts the kernel file systems, loads the
# ATAPI/SCSI modules and those of the SCSI target the simulated drives sit
# behind, gives the drive nodes to group cdrom as udev would, runs the checks and
# powers off. Lines that start with OFSCHECK are read by the host.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mkdir -p /tmp && mount -t tmpfs tmp /tmp && chmod 1777 /tmp
# The per-drive lock files every user shares, as systemd lays them out.
mkdir -p /run && mount -t tmpfs run /run && mkdir -p /run/lock && chmod 1777 /run/lock

for module in $(cat /lib/modules/modules.load); do
  insmod "/lib/modules/$module" || echo "OFSCHECK FAIL insmod $module"
done

# Both drives answer; libata probes in the background.
i=0
while [ $i -lt 200 ] && ! { [ -e /dev/sr1 ] && [ -e /dev/sg1 ]; }; do
  sleep 0.05
  i=$((i + 1))
done

# The guest with USB-attached drives runs their checks instead.
if grep -q 'ofs.checks=usb' /proc/cmdline; then /usb-checks.sh; else /checks.sh; fi
echo "OFSCHECK END"
poweroff -f
