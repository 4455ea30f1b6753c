#!/usr/bin/env bash
# fetch-kernel.sh CACHE_DIR: makes sure CACHE_DIR/current holds a Debian kernel
# (vmlinuz) and the modules that reach an IDE ATAPI drive through sr and sg, in
# load order (modules.load), then those that put a userspace drive behind the
# kernel's SCSI target (TCMU over tcm_loop) and those of USB-attached drives
# (xHCI, usb-storage, uas) when the kernel has them; the ones it
# lacks are named in missing-modules. Downloads and unpacks only when the cache
# was not made for these modules.
set -euo pipefail

cache="$1"
required="ata_piix sr_mod sg"
optional="target_core_user tcm_loop xhci-pci usb-storage uas"
[ "$(cat "$cache/current/wanted-modules" 2>/dev/null)" = "$required $optional" ] && exit 0

pkg="$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')"
if [ -z "$pkg" ]; then
  apt-get update -qq
  pkg="$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')"
fi
[ -n "$pkg" ] || { echo "fetch-kernel: no linux-image package found" >&2; exit 1; }

mkdir -p "$cache"
work="$(mktemp -d "$cache/tmp.XXXXXX")"
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download -q "$pkg" >/dev/null 2>&1)
dpkg-deb -x "$work"/"$pkg"_*.deb "$work/root"

version="$(ls "$work/root/lib/modules")"
moddir="$work/root/lib/modules/$version"
# The package ships no modules.dep (its install script makes one): make it here.
depmod -b "$work/root" "$version"

out="$work/kernel"
mkdir -p "$out/modules"
cp "$work/root/boot/vmlinuz-$version" "$out/vmlinuz"

# Each wanted module after its dependencies, each once. No other module needs sg,
# so the guest can unload it alone to leave only /dev/sr*.
: >"$out/modules.load"
add_module() {
  local path="$1" dep
  grep -qx "$(basename "$path")" "$out/modules.load.names" 2>/dev/null && return 0
  for dep in $(awk -F': ' -v m="$path" '$1 == m {print $2}' "$moddir/modules.dep"); do
    add_module "$dep"
  done
  local name
  name="$(basename "$path")"
  case "$name" in
    *.xz) xz -dc "$moddir/$path" >"$out/modules/${name%.xz}"; name="${name%.xz}" ;;
    *.zst) zstd -qdc "$moddir/$path" >"$out/modules/${name%.zst}"; name="${name%.zst}" ;;
    *) cp "$moddir/$path" "$out/modules/$name" ;;
  esac
  basename "$path" >>"$out/modules.load.names"
  echo "$name" >>"$out/modules.load"
}
module_path() { grep -E -m1 "^[^:]*/$1\.ko(\.xz|\.zst)?:" "$moddir/modules.dep" | cut -d: -f1; }
for wanted in $required; do
  path="$(module_path "$wanted")"
  [ -n "$path" ] || { echo "fetch-kernel: module $wanted not in $pkg" >&2; exit 1; }
  add_module "$path"
done
: >"$out/missing-modules"
for wanted in $optional; do
  path="$(module_path "$wanted")"
  if [ -n "$path" ]; then add_module "$path"; else echo "$wanted" >>"$out/missing-modules"; fi
done
rm -f "$out/modules.load.names"
echo "$required $optional" >"$out/wanted-modules"
echo "$pkg" >"$out/package"

rm -rf "$cache/$version"
mv "$out" "$cache/$version"
ln -sfn "$version" "$cache/current"
