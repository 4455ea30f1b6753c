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
sim_block() { ls "/sys/class/scsi_generic/$(sim_field "$1" 2 | cut -d/ -f3)/device/block"; }
# sim_flash WHO PRODUCT: flashes PRODUCT.ofs to that drive with verification on; the
# output goes to $out (tcmu-PRODUCT-WHO), the number of handler lines before it to $out.before.
# Each runs as a session of its own (one flasher per session), so that flashes of
# different drives can run at once.
sim_flash() {
  out="tcmu-$2-$1"
  handler_log "$2" | wc -l >/tmp/$out.before
  mkdir -m 1777 /tmp/$out.session
  run_as $1 $out "XDG_RUNTIME_DIR=/tmp/$out.session OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --verify --drive $(sim_field $2 1) /ofs/$2.ofs"
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
# kernel_sent PRODUCT OUT TRACE...: the opcodes the drive received since the flash OUT
# of sim_flash began, beyond those the traces of every flasher running then show.
kernel_sent() {
  product="$1" since="$(cat /tmp/$2.before)"
  shift 2
  { handler_log "$product" | tail -n +$((since + 1)) | awk '{print "h", substr($2, 1, 2)}'
    # Each flasher's enumeration sends one INQUIRY to every drive below its trace.
    awk -v d="$(sim_field "$product" 1)" 'FNR == 1 {print "t 12"} $1 == d {print "t", substr($2, 1, 2)}' "$@"; } |
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

# Every flash type, the user and root taking turns, all at once (each drive has its own flasher).
runs="ofsuser:SIM-TYPE1 root:SIM-TYPE2 ofsuser:SIM-TYPE3 root:SIM-TYPE4 ofsuser:SIM-TYPE5 root:SIM-TYPE6
  ofsuser:SIM-TYPE6-2PASS root:SIM-TYPE7 ofsuser:SIM-TYPE8"
flashers=""
for run in $runs; do
  sim_flash "${run%%:*}" "${run#*:}" &
  flashers="$flashers $!"
done
wait $flashers
for run in $runs; do
  out="tcmu-${run#*:}-${run%%:*}"
  check "tcmu: ${run%%:*} flashes ${run#*:} through the kernel" flashed $out
  echo "[tcmu] the kernel's own commands during the ${run#*:} flash: $(kernel_sent "${run#*:}" $out \
    $(for r in $runs; do echo "/tmp/tcmu-${r#*:}-${r%%:*}.trace"; done))"
done

# A type 6 drive that ends its run with a unit attention, flashed while the kernel
# polls its media every second and another program tries to open it every 100 ms,
# as udev's CD probe does (O_EXCL): the flash keeps that program out.
ua="$(sim_block SIM-TYPE6-UA)"
echo 1000 >/sys/block/$ua/events_poll_msecs
(while [ ! -e /tmp/opener.stop ]; do
  /ofs/guest-helper exclusive-open /dev/$ua >>/tmp/opener.txt
  sleep 0.1
done) &
sim_flash root SIM-TYPE6-UA
touch /tmp/opener.stop
wait $!
sort /tmp/opener.txt | uniq -c | sed 's/^/[opener] /'
check "tcmu: root flashes SIM-TYPE6-UA (unit attention) under media polling and an opener" flashed $out
check "tcmu: the opener was kept out during the flash" grep -q EBUSY /tmp/opener.txt
unit_attention() { handler_log SIM-TYPE6-UA | grep -q ' 6/29/00$'; }
check "tcmu: the drive reported its unit attention" unit_attention
echo "[tcmu] the kernel's own commands during the SIM-TYPE6-UA flash: $(kernel_sent SIM-TYPE6-UA $out /tmp/$out.trace)"
echo 0 >/sys/block/$ua/events_poll_msecs

# Stopped and continued in the middle of its download, a flash sends no command twice.
downloading() { [ "$(handler_log SIM-STOPPED | grep -c '^[0-9]* 3b06')" -ge 4 ]; }
out=tcmu-SIM-STOPPED-root
run_as root $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --verify --drive $(sim_field SIM-STOPPED 1) /ofs/SIM-STOPPED.ofs" &
flasher=$!
wait_until 30 downloading
stopped="$(pidof ofstool)"
kill -STOP $stopped
sleep 2
check "tcmu: SIM-STOPPED's flasher stopped in the middle of its flash" kill -0 $stopped
kill -CONT $stopped
wait $flasher
check "tcmu: root flashes SIM-STOPPED, stopped and continued" flashed $out
check "tcmu: SIM-STOPPED received no command twice" nothing_sent_twice SIM-STOPPED

# Two flashers of one drive started together, root and the user: exactly one flashes.
race="OFSFLASH_TRACE=/tmp/tcmu-race-WHO.trace /ofs/ofstool flash --yes --verify --drive $(sim_field SIM-RACE 1) /ofs/SIM-RACE.ofs"
run_as root tcmu-race-root "$(echo "$race" | sed s/WHO/root/)" &
first=$!
run_as ofsuser tcmu-race-user "$(echo "$race" | sed s/WHO/user/)" &
wait $first $!
winners=0
for name in tcmu-race-root tcmu-race-user; do flashed $name && winners=$((winners + 1)); done
check "tcmu: two flashers of SIM-RACE, exactly one flashes" test $winners -eq 1
check "tcmu: the other names the holder" sh -c \
  "cat tcmu-race-root tcmu-race-user | grep -q 'is being flashed by another program (ofstool, pid '"
check "tcmu: SIM-RACE received no command twice" nothing_sent_twice SIM-RACE

run_as ofsuser tcmu-drives-after /ofs/ofstool drives
for product in SIM-TYPE1 SIM-TYPE2 SIM-TYPE3 SIM-TYPE4 SIM-TYPE5 SIM-TYPE6 SIM-TYPE6-2PASS SIM-TYPE7 SIM-TYPE8 \
  SIM-TYPE6-UA SIM-STOPPED SIM-RACE; do
  check "tcmu: ofstool drives shows $product at 2.00" grep -q "ORVA    $product *2.00" tcmu-drives-after
done
sed 's/^/[tcmu handler] /' /tmp/tcmu.err
