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
# Older than the drive's revision: the newer-firmware question keeps the first
# flasher waiting (holding the drive) until it is answered.
"$mkofs" -o "$dir/qemu-older.ofs" --template 0x100 --vendor QEMU --product "QEMU DVD-ROM" --revision 1.00 --hwid "" \
  --format ofs3 --slot 0x10000 --banks 2 --atapi-type 8

# The simulated drives behind the kernel (guest-tcmu-checks.sh): each at revision
# 1.00 of its own product, and the image that takes it to 2.00.
cat >"$dir/tcmu.profile" <<'PROFILE'
[drive]
product = SIM-TYPE6
revision = 1.00
hardware_id = A1
flash_family = 6
capabilities = 11 13
programming_ms = 500
PROFILE
"$mkofs" -o "$dir/sim-type6.ofs" --template 0x100 --product SIM-TYPE6 --revision 2.00 --hwid A1 \
  --format ofs3 --slot 0x10000 --banks 2 --atapi-type 6
