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

# sim_field PRODUCT FIELD: of the simulated drive of that product, ofstool's drive
# number (1) or its node (2), from the listing made after the drives attached.
sim_field() { awk -F'\t' -v p="ORVA    $1 " 'index($3, p) == 1 { print $'"$2"'; exit }' /tmp/tcmu-drives; }
# sim_block PRODUCT: its block node's name (srN).
sim_block() {
  for d in /sys/class/scsi_device/*/device; do
    [ "$(cat $d/model)" = "$1" ] && ls $d/block && return 0
  done
}
# sim_flash WHO PRODUCT: flashes PRODUCT.ofs to that drive with verification on.
sim_flash() {
  out="tcmu-$2-$1"
  run_as $1 $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --verify --drive $(sim_field $2 1) /ofs/$2.ofs"
}
flashed() { [ "$(rc_of "$1")" -eq 0 ] && grep -q "All Completed!" "$1"; }
# handler_log PRODUCT: the handler's lines of that drive (numbered in profile order).
handler_log() {
  n="$(grep '^product = ' /ofs/tcmu.profile | grep -n " $1\$" | cut -d: -f1)"
  awk -v d=$((n - 1)) '$1 == d' /tmp/tcmu.log
}
# No data command reached the drive twice: the downloads address each block once.
nothing_sent_twice() {
  [ "$(handler_log "$1" | awk 'substr($2, 1, 4) == "3b06" || substr($2, 1, 2) == "fd" {print $2}' | sort | uniq -d |
    wc -l)" -eq 0 ] && handler_log "$1" | grep -q '^[0-9]* 3b06'
}
# kernel_sent PRODUCT TRACE: the opcodes the drive received beyond those of the trace.
kernel_sent() {
  { handler_log "$1" | awk '{print "h", substr($2, 1, 2)}'; awk '/^[0-9]/ {print "t", substr($2, 1, 2)}' "$2"; } |
    awk '{ n[$2] += $1 == "h" ? 1 : -1 } END { for (op in n) if (n[op] > 0) printf "%s x%d ", op, n[op] }'
}

missing="$(cat /lib/modules/missing-modules)"
if [ -n "$missing" ]; then
  echo "OFSCHECK skip simulated drives behind the kernel: module $missing missing"
  return 0
fi
# The checks before unloaded sg: the flashes through the kernel need it back.
insmod /lib/modules/sg.ko
drives="$(grep -c '^\[drive\]' /ofs/tcmu.profile)"
check "tcmu: $drives simulated drives attached as sr and sg" tcmu_start "$drives"
chgrp cdrom /dev/sr* /dev/sg* 2>/dev/null
chmod 660 /dev/sr* /dev/sg* 2>/dev/null
/ofs/ofstool drives >/tmp/tcmu-drives
cat /tmp/tcmu-drives

# Every flash type, the user and root taking turns.
for run in ofsuser:SIM-TYPE1 root:SIM-TYPE2 ofsuser:SIM-TYPE3 root:SIM-TYPE4 ofsuser:SIM-TYPE5 root:SIM-TYPE6 \
  ofsuser:SIM-TYPE6-2PASS root:SIM-TYPE7 ofsuser:SIM-TYPE8; do
  sim_flash "${run%%:*}" "${run#*:}"
  check "tcmu: ${run%%:*} flashes ${run#*:} through the kernel" flashed $out
done
