#!/bin/sh
# make-guest-data.sh MKOFS DIR: the firmware containers the guest flashes, made for
# the identity of QEMU's emulated drive so that the update sequence accepts them.
# The image revision is above the drive's (2.5+) so that no newer-firmware question comes up.
set -eu
mkofs="$1"
dir="$2"
for type in 1 6; do
  "$mkofs" -o "$dir/qemu-type$type.ofs" --format ofs3 --slot 0x10000 --banks 2 --atapi-type "$type" \
    --kernel 0:0x8000 --template 0x100 --vendor QEMU --product "QEMU DVD-ROM" --revision 3.00
done
