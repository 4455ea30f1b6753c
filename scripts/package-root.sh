# Sourced by package-check.sh: the clean bookworm roots the packages are built and tested in.
# They are kept under build/ between runs, and made anew when what they were made from changes.

OFS_DEBIAN_MIRROR=http://deb.debian.org/debian
OFS_PACKAGE_CACHE="$OFS_ROOT/build/package-roots"

# ofs_in_root ROOT COMMAND...: runs COMMAND as root in ROOT, with a /proc of its own, in a mount and
# process namespace that ends with it, so nothing stays mounted on the host.
ofs_in_root() {
  local root="$1"; shift
  unshare --mount --pid --fork --mount-proc="$root/proc" chroot "$root" \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/build LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

# ofs_build_root CONTROL: prints the path of a --variant=buildd root that holds what CONTROL's
# Build-Depends name for a build without tests, as the build daemons install it, and an unprivileged
# user (1000) to build as. Made anew when CONTROL changes.
ofs_build_root() {
  local control="$1" stamp root
  stamp="$(sha256sum <"$control" | cut -d' ' -f1)"
  root="$OFS_PACKAGE_CACHE/buildd"
  if [ "$(cat "$root.stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "   (making the build root: debian/control changed or no root yet)" >&2
    rm -rf "$root" "$root.stamp" "$root.new"
    mkdir -p "$OFS_PACKAGE_CACHE"
    local log="$OFS_PACKAGE_CACHE/buildd.log"
    {
      mmdebstrap --quiet --variant=buildd --skip=cleanup/apt/lists bookworm "$root.new" "$OFS_DEBIAN_MIRROR" &&
        mkdir -p "$root.new/build/deps/debian" && cp "$control" "$root.new/build/deps/debian/control" &&
        ofs_in_root "$root.new" apt-get build-dep -y -q -o Dpkg::Use-Pty=0 -P nocheck /build/deps &&
        ofs_in_root "$root.new" apt-get clean
    } >"$log" 2>&1 || { tail -30 "$log" >&2; return 1; }
    rm -rf "$root.new/build/deps"
    echo "builder:x:1000:1000::/build:/bin/sh" >>"$root.new/etc/passwd"
    echo "builder:x:1000:" >>"$root.new/etc/group"
    mv "$root.new" "$root"
    echo "$stamp" >"$root.stamp"
  fi
  echo "$root"
}

# ofs_overlay_root LOWER DIR: mounts at DIR/root a copy-on-write view of LOWER, whose changes go to DIR,
# so the cached root stays clean. The caller unmounts DIR/root.
ofs_overlay_root() {
  mkdir -p "$2/upper" "$2/scratch" "$2/root"
  mount -t overlay overlay -o "lowerdir=$1,upperdir=$2/upper,workdir=$2/scratch" "$2/root"
  cp /etc/resolv.conf "$2/root/etc/resolv.conf"
}

# ofs_piuparts_base: prints the path of a minimal bookworm tarball for piuparts to start each of its
# chroots from; made once.
ofs_piuparts_base() {
  local base="$OFS_PACKAGE_CACHE/minbase.tar.gz"
  if [ ! -s "$base" ]; then
    mkdir -p "$OFS_PACKAGE_CACHE"
    mmdebstrap --quiet --variant=minbase bookworm "$base.new.tar.gz" "$OFS_DEBIAN_MIRROR" >&2
    mv "$base.new.tar.gz" "$base"
  fi
  echo "$base"
}
