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
run_as root flash-sg-disc "OFSFLASH_TRACE=/tmp/flash-sg-disc.trace /ofs/ofstool flash --no --drive 0 /ofs/qemu-type1.ofs"
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
# The kernel's filter passes the 5A commands of type 1 (the drive refuses them) and
# refuses WRITE BUFFER of type 6 itself (EPERM: transport status 0).
for run in 1:5a:2 6:3b:0; do
  type="${run%%:*}" opcode="$(echo "$run" | cut -d: -f2)" status="${run##*:}"
  out=flash-sr-user-$type
  run_as ofsuser $out "OFSFLASH_TRACE=/tmp/$out.trace /ofs/ofstool flash --yes --drive 1 /ofs/qemu-type$type.ofs"
  check "ofsuser on sr: type $type ends with the failure text" flash_refused $out "$FAIL_TEXT"
  check "ofsuser on sr: type $type left the tray unlocked" tray_left_unlocked $out.trace
  check "ofsuser on sr: type $type firmware data got status $status" sent_to_drive1 $out.trace $opcode $status
done
