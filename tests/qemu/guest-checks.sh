#!/bin/sh
# Checks run inside the test guest, as root and as ofsuser (group cdrom).
# Drive 0 (ide.1 master) holds a disc, drive 1 (ide.1 slave) is empty.

ok() { echo "OFSCHECK ok $1"; }
# A failed check shows the trace of the run it looked at (inquiries left out).
fail() {
  echo "OFSCHECK FAIL $1"
  [ -n "${out:-}" ] && [ -f "/tmp/$out.trace" ] && grep -v '^[0-9]* 12' "/tmp/$out.trace"
}
check() {
  name="$1"
  shift
  if "$@"; then ok "$name"; else fail "$name"; fi
}
# run_as USER OUTFILE COMMAND...: output and exit code ($OUTFILE.rc) kept for the checks.
run_as() {
  who="$1" out="$2"
  shift 2
  if [ "$who" = root ]; then
    sh -c "$*" >"$out" 2>&1
  else
    su -s /bin/sh ofsuser -c "$*" >"$out" 2>&1
  fi
  echo $? >"$out.rc"
  sed "s/^/[$who] /" "$out"
  echo "[$who] exit $(cat "$out.rc") at $(cut -d' ' -f1 /proc/uptime) s"
}
rc_of() { cat "$1.rc"; }
# Whatever else happened, the run did not claim success.
no_success() {
  [ "$(rc_of "$1")" -ne 0 ] && ! grep -q "All Completed!" "$1" && ! grep -q "Flashing finished !" "$1"
}
# count_sent TRACE OPCODE: how many commands with that opcode went to drive 1.
count_sent() { grep -c "^1 $2" "$1"; }
# The flash was refused before its first command: the text names the node it needs.
refused_before_sending() {
  [ "$(rc_of "$1")" -eq 1 ] && grep -q "Nothing was sent to the drive" "$1" && grep -q "modprobe sg" "$1" &&
    [ "$(count_sent "$1.trace" 3b)" -eq 0 ] && [ "$(count_sent "$1.trace" fd)" -eq 0 ] &&
    [ "$(count_sent "$1.trace" 1e)" -eq 0 ]
}
# wait_until SECONDS COMMAND...: polls every 0.1 s.
wait_until() {
  n=$(($1 * 10))
  shift
  while [ $n -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    n=$((n - 1))
  done
  return 1
}
# start_waiting USER NAME IMAGE FD: a flash on a terminal, confirmed when asked, that stops
# at the newer-firmware question, holding drive 1, until "y" is written to descriptor FD
# (a fifo whose bytes are typed on its terminal).
start_waiting() {
  who="$1" name="$2" image="$3" fd="$4"
  rm -f "/tmp/$name.fifo" "/tmp/$name.rc"
  mkfifo "/tmp/$name.fifo"
  chmod 666 "/tmp/$name.fifo"
  eval "exec $fd<>/tmp/$name.fifo"
  cmd="OFSFLASH_TRACE=/tmp/$name.trace /ofs/ofstool flash --drive 1 $image"
  if [ "$who" = root ]; then
    set -- /bin/sh -c "$cmd"
  else
    set -- /bin/su -s /bin/sh ofsuser -c "$cmd"
  fi
  (/ofs/guest-helper on-terminal "/tmp/$name.fifo" "$@" >"/tmp/$name" 2>&1; echo $? >"/tmp/$name.rc") &
  # Typed once the question shows: what is typed before it is thrown away.
  wait_until 20 confirming_or_ended "$name"
  eval "echo y >&$fd"
}
confirming_or_ended() { grep -q "\[y/N\]" "/tmp/$1" || [ -f "/tmp/$1.rc" ]; }
asking() { grep -q "is newer than" "/tmp/$1"; }
ended() { [ -f "/tmp/$1.rc" ]; }
asking_or_ended() { asking "$1" || ended "$1"; }

# Every drive line names a node under this prefix and the emulated drive's INQUIRY identity.
drives_listed_through() {
  [ "$(grep -c "	$2[0-9]*	QEMU    QEMU DVD-ROM" "$1")" -eq 2 ] && [ "$(rc_of "$1")" -eq 0 ]
}
all_flashable() { ! grep -q "not flashable" "$1"; }
none_flashable() { [ "$(grep -c "not flashable" "$1")" -eq 2 ]; }
# An update that the drive refuses: exit code 1 (no crash, no signal) and the failure text.
flash_refused() { [ "$(rc_of "$1")" -eq 1 ] && grep -q "$2" "$1"; }
# The last PREVENT ALLOW MEDIUM REMOVAL (1e) of the trace, if any, allowed removal.
tray_left_unlocked() {
  last="$(grep '^[0-9]* 1e' "$1" | tail -n 1)"
  [ -z "$last" ] || [ "$(echo "$last" | cut -d' ' -f2 | cut -c9-10)" = 00 ]
}
# sent_to_drive1 TRACE OPCODE STATUS [SENSE-PREFIX]: such a command went to drive 1
# and got that transport status (and sense).
sent_to_drive1() {
  awk -v op="$2" -v st="$3" -v sense="${4:-}" '
    $1 == 1 && substr($2, 1, 2) == op && $5 == st && substr($7, 1, length(sense)) == sense { found = 1 }
    END { exit !found }' "$1"
}

# What udev does on a desktop: the drive nodes belong to group cdrom.
chgrp cdrom /dev/sr* /dev/sg* 2>/dev/null
chmod 660 /dev/sr* /dev/sg* 2>/dev/null

check "sg and sr nodes" test -c /dev/sg0 -a -c /dev/sg1 -a -b /dev/sr0 -a -b /dev/sr1
check "emulated drives identify as QEMU DVD-ROM" \
  test "$(grep -l '^QEMU DVD-ROM' /sys/class/scsi_device/*/device/model | wc -l)" -eq 2
check "user is in group cdrom" sh -c 'su -s /bin/sh ofsuser -c id | grep -q "(cdrom)"'

cd /tmp
FAIL_TEXT="Error: Write Buffer Fail !"
for who in root ofsuser; do
  run_as $who drives-sg-$who /ofs/ofstool drives
  check "$who: drives listed through /dev/sg" drives_listed_through drives-sg-$who /dev/sg
  check "$who: drives flashable through /dev/sg" all_flashable drives-sg-$who
done
# Drive 0 holds a disc: the sequence asks for it to go, gives up, and sends nothing.
run_as root flash-sg-disc "OFSFLASH_TRACE=/tmp/flash-sg-disc.trace /ofs/ofstool flash --yes --no --drive 0 /ofs/qemu-type1.ofs"
check "root: disc in drive 0 stops the update" flash_refused flash-sg-disc "Please remove your disc"
check "root: disc in drive 0, no write command" sh -c "! grep -q '^[0-9]* 3b' flash-sg-disc.trace"
check "root: disc in drive 0, tray unlocked" tray_left_unlocked flash-sg-disc.trace
# Drive 1 is empty: the update starts, and the drive refuses the firmware data
# (type 1 carries it in vendor 5A commands, type 6 in WRITE BUFFER).
for run in root:1:5a ofsuser:6:3b; do
  who="${run%%:*}" type="$(echo "$run" | cut -d: -f2)" opcode="${run##*:}"
  out=flash-sg-$who-$type
  run_as $who $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --drive 1 /ofs/qemu-type$type.ofs"
  check "$who: type $type refused by the drive" flash_refused $out "$FAIL_TEXT"
  check "$who: type $type firmware sent, drive said ILLEGAL REQUEST" sent_to_drive1 $out.trace $opcode 2 f0000500
  check "$who: type $type left the tray unlocked" tray_left_unlocked $out.trace
done

# Types 8 and 2 carry their data in WRITE BUFFER and in 0xFD blocks, which the drive
# refuses: the flash stops at the first refused block and claims no success.
for run in root:8:3b ofsuser:8:3b root:2:fd ofsuser:2:fd; do
  who="${run%%:*}" type="$(echo "$run" | cut -d: -f2)" opcode="${run##*:}"
  out=flash-sg-$who-$type
  run_as $who $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --drive 1 /ofs/qemu-type$type.ofs"
  check "$who: type $type refused by the drive" flash_refused $out "$FAIL_TEXT"
  check "$who: type $type claims no success" no_success $out
  check "$who: type $type stops at the first refused block" test "$(count_sent $out.trace $opcode)" -eq 1
  check "$who: type $type left the tray unlocked" tray_left_unlocked $out.trace
done

# While root's flash holds drive 1: media polling is off, an O_EXCL open (udev's CD
# probe, a burner, a mount) gets EBUSY; afterwards polling is back.
echo 2000 >/sys/block/sr1/events_poll_msecs
start_waiting root hold-root /ofs/qemu-older.ofs 8
check "root holding: waits at the question" wait_until 20 asking hold-root
check "root holding: media polling is off" test "$(cat /sys/block/sr1/events_poll_msecs)" = 0
check "root holding: O_EXCL open of /dev/sr1 gets EBUSY" test "$(/ofs/guest-helper exclusive-open /dev/sr1)" = EBUSY
echo y >&8
check "root holding: the flash ends" wait_until 30 ended hold-root
sed "s/^/[hold-root] /" /tmp/hold-root
out=hold-root
check "root holding: the flash went on to the drive" test "$(count_sent /tmp/hold-root.trace 3b)" -ge 1
check "root holding: no success" no_success hold-root
check "root holding: media polling restored" test "$(cat /sys/block/sr1/events_poll_msecs)" = 2000
check "root holding: the trace notes polling off and back" sh -c \
  "grep -q '^# media polling of sr1 off (was 2000 ms)' /tmp/hold-root.trace &&
   grep -q '^# media polling restored to 2000 ms' /tmp/hold-root.trace"
check "root holding: tray unlocked" tray_left_unlocked /tmp/hold-root.trace
check "O_EXCL open of /dev/sr1 works again" test "$(/ofs/guest-helper exclusive-open /dev/sr1)" = ok

# A root flasher killed with SIGKILL while it holds drive 1 cannot give polling back;
# the next flash of the drive puts back the value recorded in the drive's lock file.
start_waiting root killed-root /ofs/qemu-older.ofs 8
check "killed: waits at the question" wait_until 20 asking killed-root
kill -9 "$(pidof ofstool)"
check "killed: the flasher is gone" wait_until 30 ended killed-root
check "killed: media polling was left off" test "$(cat /sys/block/sr1/events_poll_msecs)" = 0
start_waiting root after-kill /ofs/qemu-older.ofs 9
check "after kill: the next flash holds the drive" wait_until 20 asking after-kill
echo y >&9
check "after kill: the flash ends" wait_until 30 ended after-kill
out=after-kill
check "after kill: the next hold put the old value back and noted it" sh -c \
  "grep -q '^# media polling of sr1 put back to 2000 ms: a run before this one did not end' /tmp/after-kill.trace &&
   grep -q '^# media polling of sr1 off (was 2000 ms)' /tmp/after-kill.trace"
check "after kill: media polling is at its old value" test "$(cat /sys/block/sr1/events_poll_msecs)" = 2000
exec 8>&- 9>&-

# Two flashers of one drive started together, root and the user: exactly one gets
# the drive (and waits at its question); the other ends at once, naming the holder.
start_waiting root race-root /ofs/qemu-older.ofs 8
start_waiting ofsuser race-user /ofs/qemu-older.ofs 9
wait_until 20 asking_or_ended race-root
wait_until 20 asking_or_ended race-user
winners=0
for name in race-root race-user; do asking $name && winners=$((winners + 1)); done
check "two flashers: exactly one holds the drive" test $winners -eq 1
check "two flashers: the other ended naming the holder" sh -c \
  "cat /tmp/race-root /tmp/race-user | grep -q 'is being flashed by another program (ofstool, pid '"
echo y >&8
echo y >&9
wait_until 30 ended race-root
wait_until 30 ended race-user
sent=0
for name in race-root race-user; do
  sed "s/^/[$name] /" /tmp/$name
  [ "$(count_sent /tmp/$name.trace 3b)" -ge 1 ] && sent=$((sent + 1))
done
check "two flashers: exactly one sent firmware" test $sent -eq 1
exec 8>&- 9>&-

# Without the generic driver only /dev/sr* is left, where the kernel lets only
# CAP_SYS_RAWIO send commands it does not know as safe.
rmmod sg
check "sg unloaded" test ! -e /dev/sg0
run_as root drives-sr-root /ofs/ofstool drives
check "root: drives listed through /dev/sr" drives_listed_through drives-sr-root /dev/sr
check "root: drives flashable through /dev/sr" all_flashable drives-sr-root
run_as ofsuser drives-sr-user /ofs/ofstool drives
check "ofsuser: drives listed through /dev/sr" drives_listed_through drives-sr-user /dev/sr
check "ofsuser: drives not flashable through /dev/sr" none_flashable drives-sr-user
# The kernel's filter passes the 5A commands of type 1 (the drive refuses them);
# WRITE BUFFER (types 6, 8) and 0xFD blocks (type 2) would be refused by the kernel
# (EPERM), so those flashes are refused before their first command.
out=flash-sr-user-1
run_as ofsuser $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --drive 1 /ofs/qemu-type1.ofs"
check "ofsuser on sr: type 1 ends with the failure text" flash_refused $out "$FAIL_TEXT"
check "ofsuser on sr: type 1 left the tray unlocked" tray_left_unlocked $out.trace
check "ofsuser on sr: type 1 firmware data got status 2" sent_to_drive1 $out.trace 5a 2
check "ofsuser on sr: media polling is not the user's to change, and the trace says so" \
  grep -q '^# media polling of sr1 stays at 2000 ms' $out.trace
for type in 6 8 2; do
  out=flash-sr-user-$type
  run_as ofsuser $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --drive 1 /ofs/qemu-type$type.ofs"
  check "ofsuser on sr: type $type refused before its first command" refused_before_sending $out
  check "ofsuser on sr: type $type claims no success" no_success $out
done
# Root holds CAP_SYS_RAWIO: its WRITE BUFFER reaches the drive, which refuses it.
out=flash-sr-root-8
run_as root $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --drive 1 /ofs/qemu-type8.ofs"
check "root on sr: type 8 reaches the drive and is refused" sent_to_drive1 $out.trace 3b 2 f0000500
check "root on sr: type 8 claims no success" no_success $out
check "root on sr: type 8 left the tray unlocked" tray_left_unlocked $out.trace

# The same flashes, whole, through the kernel to simulated drives.
. /tcmu-checks.sh
