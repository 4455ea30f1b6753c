# Sourced by the guest checks: simulated drives (ofs-tcmu-handler, /ofs/tcmu.profile)
# behind the kernel's SCSI target over tcm_loop, so whole flashes travel through
# sr/sg. The handler logs every command it answers in /tmp/tcmu.log.

cfg=/sys/kernel/config
core="$cfg/target/core/user_0"
loop="$cfg/target/loopback/naa.5001405000000001/tpgt_1"

# tcmu_start DRIVES: one TCMU device per profile drive, the handler on their UIO
# devices, then one LUN each; true once every drive has its sr and sg node.
tcmu_start() {
  mount -t configfs configfs "$cfg" 2>/dev/null
  i=0 uios=""
  while [ $i -lt "$1" ]; do
    mkdir -p "$core/sim$i"
    echo "dev_config=sim$i/x" >"$core/sim$i/control"
    echo "dev_size=33554432" >"$core/sim$i/control"
    echo 1 >"$core/sim$i/enable" || return 1
    uios="$uios uio$i"
    i=$((i + 1))
  done
  /ofs/ofs-tcmu-handler /ofs/tcmu.profile /tmp/tcmu.log $uios 2>/tmp/tcmu.err &
  mkdir -p "$loop"
  echo naa.5001405000000002 >"$loop/nexus"
  i=0
  while [ $i -lt "$1" ]; do
    mkdir -p "$loop/lun/lun_$i"
    ln -s "$core/sim$i" "$loop/lun/lun_$i/sim$i"
    i=$((i + 1))
  done
  wait_until 20 sh -c "[ \$(grep -l '^SIM-' /sys/class/scsi_device/*/device/model | wc -l) -eq $1 ]" &&
    wait_until 10 sh -c "for d in /sys/class/scsi_device/*/device; do
      grep -q '^SIM-' \$d/model || continue; ls \$d/scsi_generic/ \$d/block/ >/dev/null 2>&1 || exit 1; done"
}

# sim_index PRODUCT: the drive number ofstool gives the simulated drive of that product.
sim_index() {
  /ofs/ofstool drives | awk -v p="$1" 'index($0, "ORVA    " p) { sub(/:.*/, "", $1); print $1; exit }'
}

missing="$(cat /lib/modules/missing-modules)"
if [ -n "$missing" ]; then
  echo "OFSCHECK skip simulated drives behind the kernel: module $missing missing"
  return 0
fi
# The checks before unloaded sg: the flashes through the kernel need it back.
insmod /lib/modules/sg.ko
check "tcmu: simulated drives attached as sr and sg" tcmu_start 1
chgrp cdrom /dev/sr* /dev/sg* 2>/dev/null
chmod 660 /dev/sr* /dev/sg* 2>/dev/null
cp /tmp/tcmu.log /tmp/tcmu-scan.log

run_as root tcmu-drives /ofs/ofstool drives
type6="$(sim_index SIM-TYPE6)"
out=tcmu-flash-6
run_as ofsuser $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --verify --drive $type6 /ofs/sim-type6.ofs"
check "tcmu: ofsuser flashes type 6 through the kernel" test "$(rc_of $out)" -eq 0
run_as ofsuser tcmu-drives-after /ofs/ofstool drives
check "tcmu: ofstool drives shows the new version of type 6" grep -q "SIM-TYPE6 *2.00" tcmu-drives-after
sed 's/^/[tcmu] /' /tmp/tcmu.err
