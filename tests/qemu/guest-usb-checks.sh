#!/bin/sh
# Checks run inside the second test guest, as root: its two drives are empty SCSI CDs
# behind QEMU's USB bridges, one on a usb-storage (Bulk-Only) device, one on a uas device.

# verdict NAME STATUS OUTFILE: the check passed when STATUS is 0; a failure shows what the run said.
verdict() {
  if [ "$2" -eq 0 ]; then
    echo "OFSCHECK ok $1"
  else
    echo "OFSCHECK FAIL $1"
    sed 's/^/  /' "$3"
  fi
}
# The first sg node below the USB driver's interfaces.
sg_below() { ls /sys/bus/usb/drivers/"$1"/*/host*/target*/*/scsi_generic 2>/dev/null | head -n 1; }

drives=/tmp/drives
/ofs/ofstool drives >$drives 2>&1
/ofs/ofstool drives --json >$drives.json 2>&1
cat $drives
bot="$(sg_below usb-storage)"
uas="$(sg_below uas)"
verdict "usb: both bridges bound their drivers" "$([ -n "$bot" ] && [ -n "$uas" ]; echo $?)" $drives
# QEMU's Bulk-Only device is 46f4:0001, its uas device 46f4:0003.
verdict "usb: drives lists both drives as usb with QEMU's bridge IDs" \
  "$([ "$(grep -o '"transport":"usb"' $drives.json | wc -l)" -eq 2 ] && grep -q '"bridge":"46f4:0001"' $drives.json &&
     grep -q "/dev/$bot	.*(USB bridge 46f4:0001)" $drives && grep -q "/dev/$uas	.*(USB bridge 46f4:0003)" $drives;
     echo $?)" $drives.json
bot_drive="$(grep "	/dev/$bot	" $drives | cut -f1)"
uas_drive="$(grep "	/dev/$uas	" $drives | cut -f1)"

# Type 8 reaches the uas drive, which refuses its first WRITE BUFFER. QEMU's SCSI CD answers it
# NOT READY (02/3A, no medium), not ILLEGAL REQUEST as its IDE drive does: a drive without medium
# took nothing either, so the run ends there, says nothing was written and claims no success.
out=/tmp/usb-type8
OFSFLASH_TRACE=$out.trace /ofs/ofstool flash --yes --drive "$uas_drive" /ofs/qemu-usb-type8.ofs >$out 2>&1
rc=$?
cat $out
verdict "usb: the confirmation tells of the bridge" "$(grep -q 'a bridge can drop or cut the drive' $out; echo $?)" $out
verdict "usb: type 8 reaches the drive, is refused at its first piece, and nothing is claimed" \
  "$([ $rc -eq 1 ] && grep -q 'nothing was written to drive' $out && ! grep -q 'All Completed!' $out &&
     [ "$(awk '$1 == '"$uas_drive"' && substr($2, 1, 2) == "3b"' $out.trace | wc -l)" -eq 1 ] &&
     awk '$1 == '"$uas_drive"' && substr($2, 1, 2) == "3b" && $5 == 2 { found = 1 } END { exit !found }' $out.trace;
     echo $?)" $out.trace

# The Bulk-Only device lowered to 64 sectors (32 KiB): the 60 KiB bank is refused before any
# command that writes or locks (discovery's reads go before it).
for limit in /sys/bus/usb/drivers/usb-storage/*/host*/target*/*/max_sectors; do echo 64 >"$limit"; done
out=/tmp/usb-limit
OFSFLASH_TRACE=$out.trace /ofs/ofstool flash --yes --drive "$bot_drive" /ofs/qemu-usb-type1.ofs >$out 2>&1
rc=$?
cat $out
verdict "usb: a piece over the bridge's 32 KiB is refused before its first command, naming the limit" \
  "$([ $rc -eq 1 ] && grep -q 'at most 32768 bytes (32 KiB) in one command' $out &&
     grep -q 'pieces of 61440 bytes' $out && grep -q 'nothing was written to drive' $out &&
     ! awk '$1 == '"$bot_drive"' && ($3 == "out" || substr($2, 1, 2) == "1e") { found = 1 }
            END { exit !found }' $out.trace; echo $?)" $out
