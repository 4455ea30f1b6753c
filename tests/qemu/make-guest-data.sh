#!/bin/sh
# make-guest-data.sh MKOFS DIR: the firmware containers the guest flashes, made for
# the identity of QEMU's emulated drive so that the update sequence accepts them.
# QEMU's drive reports no hardware ID, and so do the images. The image revision is
# above the drive's (2.5+) so that no newer-firmware question comes up; type 1 banks stay below one transfer (64 KiB - 1) so that they are sent.
set -eu
mkofs="$1"
dir="$2"
identity() {
  "$mkofs" "$@" --template 0x100 --vendor QEMU --product "QEMU DVD-ROM" --revision 3.00 --hwid ""
}
identity -o "$dir/qemu-type1.ofs" --format ofs3 --slot 0x10000 --bank-sizes 0x8000,0x4000 --atapi-type 1
identity -o "$dir/qemu-type6.ofs" --format ofs3 --slot 0x10000 --banks 2 --atapi-type 6 --kernel 0:0x8000
identity -o "$dir/qemu-type2.ofs" --format ofs3 --slot 0x10000 --banks 2 --atapi-type 2
identity -o "$dir/qemu-type8.ofs" --format ofs3 --slot 0x10000 --banks 2 --atapi-type 8
# For the drives behind QEMU's USB bridges, which answer as its SCSI CD: type 8, and
# type 1 with a 60 KiB bank, more than a usb-storage device lowered to 32 KiB carries.
usb_identity() {
  "$mkofs" "$@" --template 0x100 --vendor QEMU --product "QEMU CD-ROM" --revision 3.00 --hwid ""
}
usb_identity -o "$dir/qemu-usb-type8.ofs" --format ofs3 --slot 0x10000 --banks 2 --atapi-type 8
usb_identity -o "$dir/qemu-usb-type1.ofs" --format ofs3 --slot 0x10000 --bank-sizes 0xF000,0x4000 --atapi-type 1
# Older than the drive's revision: the newer-firmware question keeps the first
# flasher waiting (holding the drive) until it is answered.
"$mkofs" -o "$dir/qemu-older.ofs" --template 0x100 --vendor QEMU --product "QEMU DVD-ROM" --revision 1.00 --hwid "" \
  --format ofs3 --slot 0x10000 --banks 2 --atapi-type 8

# The simulated drives behind the kernel (guest-tcmu-checks.sh), in profile order.
# sim_drive PRODUCT FAMILY [PROFILE LINE] -- MKOFS OPTIONS...: a drive of that product at
# revision 1.00 that speaks that flash family, and PRODUCT.ofs, which takes it to 2.00.
: >"$dir/tcmu.profile"
sim_drive() {
  product="$1" family="$2"
  shift 2
  printf '[drive]\nproduct = %s\nrevision = 1.00\nhardware_id = A1\nflash_family = %s\n' "$product" "$family" \
    >>"$dir/tcmu.profile"
  printf 'capabilities = 11 13\nprogramming_ms = 300\n' >>"$dir/tcmu.profile"
  while [ "$1" != -- ]; do
    echo "$1" >>"$dir/tcmu.profile"
    shift
  done
  shift
  "$mkofs" -o "$dir/$product.ofs" --template 0x100 --product "$product" --revision 2.00 --hwid A1 \
    --format ofs3 --slot 0x10000 "$@"
}
for type in 1 3 4 5 7; do
  sim_drive SIM-TYPE$type $type -- --bank-sizes 0x8000,0x4000 --atapi-type $type
done
for type in 2 6 8; do
  sim_drive SIM-TYPE$type $type -- --banks 2 --atapi-type $type
done
# More than 16 banks: two passes, the upper half first.
sim_drive SIM-TYPE6-2PASS 6 -- --banks 32 --atapi-type 6
sim_drive SIM-TYPE6-UA 6 "finish = unit_attention" -- --banks 2 --atapi-type 6
# A longer download, to be stopped in.
sim_drive SIM-STOPPED 6 -- --banks 16 --atapi-type 6
sim_drive SIM-RACE 6 -- --banks 2 --atapi-type 6
# Eight banks, so that its terminal can hang up in the middle of them.
sim_drive SIM-HANGUP 1 -- --bank-sizes 0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000 --atapi-type 1
# Eight banks answered slowly (every command takes 100 ms), so that its LUN can be removed
# during the third.
sim_drive SIM-VANISH 1 "latency_ms = 100" -- \
  --bank-sizes 0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000 --atapi-type 1
