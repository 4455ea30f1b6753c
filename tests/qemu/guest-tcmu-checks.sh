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
    wait_until 10 with_nodes SIM-
}
# with_nodes PREFIX: every attached drive whose model starts with PREFIX has its sg and sr node,
# and there is one; then the group cdrom may use them.
with_nodes() {
  found=1
  for d in /sys/class/scsi_device/*/device; do
    grep -q "^$1" $d/model || continue
    ls $d/scsi_generic/ $d/block/ >/dev/null 2>&1 || return 1
    found=0
  done
  [ $found -eq 0 ] || return 1
  chgrp cdrom /dev/sr* /dev/sg* 2>/dev/null
  chmod 660 /dev/sr* /dev/sg* 2>/dev/null
  return 0
}
# banks_answered PRODUCT [SINCE]: the type 1 bank writes the drive answered after its first SINCE log lines.
banks_answered() { handler_log "$1" | tail -n +$((${2:-0} + 1)) | grep -c '^[0-9]* 5a00384f52a005'; }

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
  mkdir -p -m 1777 /tmp/$out.session
  run_as $1 $out "XDG_RUNTIME_DIR=/tmp/$out.session XDG_STATE_HOME=/tmp/$out.session OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --verify --drive $(sim_field $2 1) /ofs/$2.ofs"
}
flashed() { [ "$(rc_of "$1")" -eq 0 ] && grep -q "All Completed!" "$1"; }
# handler_log PRODUCT: the handler's lines of that drive (numbered in profile order).
handler_log() {
  n="$(grep '^product = ' /ofs/tcmu.profile | grep -n " $1\$" | cut -d: -f1)"
  awk -v d=$((n - 1)) '$1 == d' /tmp/tcmu.log
}
# sent_as_traced PRODUCT OUT...: the commands that the kernel never sends by itself
# reached the drive, since the first flash OUT of sim_flash began, exactly as often
# as the traces of these flashes show them, each cut to the bytes the kernel carries.
# The kernel's SCSI target answers some commands itself (06/3Fh, its LUNs changed):
# those never reach the drive.
sent_as_traced() {
  product="$1" since="$(cat /tmp/$2.before)"
  shift
  own='
    function carried(cdb, group) {
      group = int((index("0123456789abcdef", substr(cdb, 1, 1)) - 1) / 2)
      return substr(cdb, 1, group == 0 ? 12 : group == 3 || group == 5 ? 24 : group == 4 ? 32 : 20)
    }
    $2 ~ /^(3b|5a|fd|1b|03)/ && !($5 == 2 && substr($7, 25, 2) == "3f") { print carried($2) }'
  handler_log "$product" | tail -n +$((since + 1)) | awk "$own" | sort >/tmp/$1.received
  for out in "$@"; do
    awk -v d="$(sim_field "$product" 1)" '$1 == d' /tmp/$out.trace
  done | awk "$own" | sort >/tmp/$1.sent
  [ -s /tmp/$1.sent ] && cmp -s /tmp/$1.sent /tmp/$1.received
}
# target_answered OUT...: how many commands of these flashes the kernel's target answered itself.
target_answered() { cat "$@" | awk '$5 == 2 && substr($7, 25, 2) == "3f"' | wc -l; }
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
  check "tcmu: ${run#*:} received the flasher's commands once each" sent_as_traced "${run#*:}" $out
  echo "[tcmu] the kernel's own commands during the ${run#*:} flash: $(kernel_sent "${run#*:}" $out \
    $(for r in $runs; do echo "/tmp/tcmu-${r#*:}-${r%%:*}.trace"; done))"
done
echo "[tcmu] commands of these flashes the kernel's target answered itself (06/3F):" \
  "$(target_answered $(for r in $runs; do echo "/tmp/tcmu-${r#*:}-${r%%:*}.trace"; done))"

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
check "tcmu: SIM-TYPE6-UA received the flasher's commands once each" sent_as_traced SIM-TYPE6-UA $out
echo "[tcmu] the kernel's own commands during the SIM-TYPE6-UA flash: $(kernel_sent SIM-TYPE6-UA $out /tmp/$out.trace)"
echo 0 >/sys/block/$ua/events_poll_msecs

# Stopped and continued in the middle of its download, a flash sends no command twice.
downloading() { [ "$(handler_log SIM-STOPPED | grep -c '^[0-9]* 3b06')" -ge 4 ]; }
sim_flash root SIM-STOPPED &
flasher=$!
wait_until 30 downloading
stopped="$(pidof ofstool)"
kill -STOP $stopped
sleep 2
check "tcmu: SIM-STOPPED's flasher stopped in the middle of its flash" kill -0 $stopped
kill -CONT $stopped
wait $flasher
check "tcmu: root flashes SIM-STOPPED, stopped and continued" flashed tcmu-SIM-STOPPED-root
check "tcmu: SIM-STOPPED received the flasher's commands once each" sent_as_traced SIM-STOPPED tcmu-SIM-STOPPED-root

# Two flashers of one drive started together, root and the user: exactly one flashes.
sim_flash root SIM-RACE &
first=$!
sim_flash ofsuser SIM-RACE &
wait $first $!
winners=0
for who in root ofsuser; do flashed tcmu-SIM-RACE-$who && winners=$((winners + 1)); done
check "tcmu: two flashers of SIM-RACE, exactly one flashes" test $winners -eq 1
check "tcmu: the other names the holder" sh -c \
  "cat tcmu-SIM-RACE-root tcmu-SIM-RACE-ofsuser | grep -q 'is being flashed by another program (ofstool, pid '"
check "tcmu: SIM-RACE received the flashers' commands once each" \
  sent_as_traced SIM-RACE tcmu-SIM-RACE-root tcmu-SIM-RACE-ofsuser

# On a terminal that hangs up after the second bank (a closed terminal window, a dropped
# ssh session: SIGHUP, then writes that fail with EIO), the flash goes on to its end.
two_banks() { [ "$(banks_answered SIM-HANGUP)" -ge 2 ]; }
mkdir -m 1777 /tmp/hangup.session
XDG_RUNTIME_DIR=/tmp/hangup.session /ofs/guest-helper hang-up-on-usr1 /ofs/ofstool flash --yes \
  --drive "$(sim_field SIM-HANGUP 1)" /ofs/SIM-HANGUP.ofs >/tmp/hangup.out 2>&1 &
helper=$!
check "tcmu: SIM-HANGUP's flasher reached its second bank" wait_until 30 two_banks
kill -USR1 $helper
wait $helper
echo $? >/tmp/hangup.rc
sed 's/^/[hang-up] /' /tmp/hangup.out | tail -n 3
echo  # the progress line it ended with has no line end
check "tcmu: a flash whose terminal hung up after its second bank ends well" test "$(cat /tmp/hangup.rc)" -eq 0

# A drive whose LUN is removed during its third bank, as an unplugged cable or a bus reset
# takes it away: the run ends within seconds with its own text, exit 3 and a record that says
# so; with the LUN back the drive is listed again and the user flashes it, with no clean-up by hand.
vanish=$(($(grep '^product = ' /ofs/tcmu.profile | grep -n ' SIM-VANISH$' | cut -d: -f1) - 1))
lun="$loop/lun/lun_$vanish"
out=tcmu-SIM-VANISH-root
# Counted here too: the flasher's own count may not be written yet when the wait begins.
handler_log SIM-VANISH | wc -l >/tmp/$out.before
banks_sent() { banks_answered SIM-VANISH "$(cat /tmp/$out.before)"; }
two_banks_sent() { [ "$(banks_sent)" -ge 2 ]; }
detached() { ! grep -q '^SIM-VANISH' /sys/class/scsi_device/*/device/model; }
flash_ended() { [ -f $out.rc ]; }
ended_as_vanished() {
  [ "$(rc_of $out)" -eq 3 ] && grep -q 'disappeared (unplugged, or reset by the bus) after writing began' $out &&
    grep -q "run 'ofstool drives'" $out && ! grep -q 'All Completed!' $out
}
# Media polling on, so that the hold turns it off and finds its file gone at the end.
echo 2000 >/sys/block/$(sim_block SIM-VANISH)/events_poll_msecs
sim_flash root SIM-VANISH &
flasher=$!
check "tcmu: SIM-VANISH's flasher reached its third bank" wait_until 30 two_banks_sent
rm "$lun/sim$vanish" && rmdir "$lun"
check "tcmu: SIM-VANISH's LUN removed during its flash" wait_until 10 detached
check "tcmu: the run ends within 10 s of the removal" wait_until 10 flash_ended
wait $flasher
check "tcmu: the removal cut the download short" test "$(banks_sent)" -lt 8
check "tcmu: the run says the drive disappeared after writing began, and what to do" ended_as_vanished
grep '^#' /tmp/$out.trace | sed 's/^/[vanished trace] /'
check "tcmu: the history's end line says the drive disappeared" \
  grep -q '"event":"end".*"result":"drive disappeared"' /tmp/$out.session/ofsflash/history.jsonl
mkdir "$lun" && ln -s "$core/sim$vanish" "$lun/sim$vanish"
check "tcmu: SIM-VANISH back as sr and sg" wait_until 20 with_nodes SIM-VANISH
/ofs/ofstool drives >/tmp/tcmu-drives
check "tcmu: ofstool drives lists SIM-VANISH again" grep -q 'ORVA    SIM-VANISH *1.00' /tmp/tcmu-drives
sim_flash ofsuser SIM-VANISH
check "tcmu: with its LUN back, ofsuser flashes SIM-VANISH" flashed $out
check "tcmu: SIM-VANISH received the second flash's commands once each" sent_as_traced SIM-VANISH $out

run_as ofsuser tcmu-drives-after /ofs/ofstool drives
for product in SIM-TYPE1 SIM-TYPE2 SIM-TYPE3 SIM-TYPE4 SIM-TYPE5 SIM-TYPE6 SIM-TYPE6-2PASS SIM-TYPE7 SIM-TYPE8 \
  SIM-TYPE6-UA SIM-STOPPED SIM-RACE SIM-HANGUP SIM-VANISH; do
  check "tcmu: ofstool drives shows $product at 2.00" grep -q "ORVA    $product *2.00" tcmu-drives-after
done
sed 's/^/[tcmu handler] /' /tmp/tcmu.err
