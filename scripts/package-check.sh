#!/usr/bin/env bash
# package-check.sh (./test --package): builds the Debian source and binary packages from a clean copy of
# the committed tree (HEAD; uncommitted changes are left out) the way Debian's build daemons do: in a
# clean bookworm build root holding only what debian/control asks for, as an unprivileged user, without
# the tests, which the normal suite has run. Lints source and binaries, runs the packages' autopkgtests
# in a copy of that root, piuparts on both; then installs both on this machine as a user would, checks
# what they installed, purges them and checks that nothing of them is left. Needs root (or sudo).
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
source "$(dirname "$0")/common.sh"
source "$OFS_ROOT/scripts/package-root.sh"
ofs_install_dependencies dpkg-dev lintian appstream desktop-file-utils man-db mmdebstrap piuparts

arch="$(dpkg --print-architecture)"
version="$(dpkg-parsechangelog -l "$OFS_ROOT/debian/changelog" -S Version)"
upstream="${version%-*}"
id="io.github.ofsflash.ofsflash"
mkdir -p "$OFS_PACKAGE_CACHE"
work="$(mktemp -d -p "$OFS_PACKAGE_CACHE" run.XXXXXX)"
# apt reads the .deb files as its own unprivileged user.
chmod 755 "$work"
installed=""
cleanup() {
  [ -n "$installed" ] && apt-get purge -y -qq ofstool ofsflash >/dev/null 2>&1
  mountpoint -q "$work/root" && umount "$work/root"
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package check: $*" >&2; exit 1; }
step() { echo "-- $* ($(date -u +%T))"; }

step "the source of ofsflash $version from HEAD"
src="$work/src"
mkdir -p "$src"
# The upstream tarball is the tree without debian/, which the packaging adds.
git -C "$OFS_ROOT" archive --prefix="ofsflash-$upstream/" HEAD -- . ':!debian' | xz -T0 >"$src/ofsflash_$upstream.orig.tar.xz"
git -C "$OFS_ROOT" archive --prefix="ofsflash-$upstream/" HEAD | tar -x -C "$src"

step "the clean build root"
buildd="$(ofs_build_root "$src/ofsflash-$upstream/debian/control")"
ofs_overlay_root "$buildd" "$work"
root="$work/root"
cp -a "$src/." "$root/build/"
chown -R 1000:1000 "$root/build"

step "building source and binary packages as an unprivileged user"
ofs_in_root "$root" setpriv --reuid=1000 --regid=1000 --clear-groups \
  env DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" DEB_BUILD_PROFILES=nocheck \
  sh -c "cd /build/ofsflash-$upstream && dpkg-buildpackage -us -uc" >"$work/build.log" 2>&1 ||
  { tail -50 "$work/build.log"; fail "the build failed"; }
out="$work/out"
mkdir -p "$out"
find "$root/build" -maxdepth 1 -type f -exec cp -t "$out" {} +
ofstool_deb="$out/ofstool_${version}_$arch.deb"
ofsflash_deb="$out/ofsflash_${version}_$arch.deb"

step "lintian on source and binaries"
lintian -I -E --pedantic --fail-on error,warning "$out/ofsflash_${version}_$arch.changes"

step "autopkgtest in the build root"
ofs_in_root "$root" apt-get update -qq
ofs_in_root "$root" apt-get install -y -qq --no-install-recommends autopkgtest >/dev/null
cp "$ofstool_deb" "$ofsflash_deb" "$root/build/"
ofs_in_root "$root" autopkgtest --output-dir=/build/autopkgtest "/build/$(basename "$ofstool_deb")" \
  "/build/$(basename "$ofsflash_deb")" "/build/ofsflash-$upstream" -- null >"$work/autopkgtest.log" 2>&1 ||
  { tail -40 "$work/autopkgtest.log"; fail "autopkgtest failed"; }
grep -E '^(cli|window) ' "$work/autopkgtest.log"
umount "$root"

step "piuparts: install and purge both packages in a fresh chroot"
piuparts --basetgz="$(ofs_piuparts_base)" --distribution=bookworm --mirror="$OFS_DEBIAN_MIRROR" \
  "$ofstool_deb" "$ofsflash_deb" >"$work/piuparts.log" 2>&1 || { tail -40 "$work/piuparts.log"; fail "piuparts failed"; }
tail -1 "$work/piuparts.log"

step "desktop validators on the packaged files"
dpkg-deb -x "$ofsflash_deb" "$work/unpacked"
"$OFS_ROOT/scripts/validate-desktop-data.sh" "$work/unpacked/usr/share/applications/$id.desktop" \
  "$work/unpacked/usr/share/metainfo/$id.metainfo.xml"

step "installing"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$ofstool_deb" "$ofsflash_deb" \
  </dev/null >/dev/null
installed=1
dpkg -L ofstool > "$work/ofstool.list"
dpkg -L ofsflash > "$work/ofsflash.list"

step "the installed system"
[ "$(/usr/bin/ofstool --version)" = "ofstool $upstream" ] || fail "ofstool --version does not say $upstream"
/usr/bin/mkofs -o "$work/sample.ofs" --atapi-type 6 --banks 4 --seed 1 --template 0x200 --vendor ORVA \
  --product KZR-3350P2 --revision 1.02 --hwid A1 --ext 061201 >/dev/null
OFSFLASH_SIMULATE=fast /usr/bin/ofstool flash --yes "$work/sample.ofs" </dev/null >"$work/flash.log" 2>&1 ||
  { cat "$work/flash.log"; fail "flashing a simulated drive with the installed ofstool failed"; }
for page in ofstool mkofs ofsmerge ofsflash; do
  man -w "$page" >/dev/null || fail "man finds no page for $page"
done
icon="$(sed -n 's/^Icon=//p' "/usr/share/applications/$id.desktop")"
[ -f "/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon $icon where the desktop looks"
[ -f "/usr/share/metainfo/$id.metainfo.xml" ] || fail "no AppStream file"
[ -f /usr/share/bash-completion/completions/ofstool ] || fail "no bash completion for ofstool"
! grep -i 'qt' "$work/ofstool.list" || fail "the ofstool package holds Qt files"
! dpkg-query -W -f='${Depends}\n' ofstool | grep -i 'qt' || fail "the ofstool package depends on Qt"
for tool in ofstool mkofs ofsmerge; do
  ! ldd "/usr/bin/$tool" | grep -i 'libqt' || fail "$tool links Qt"
done

step "the window, offscreen"
runtime="$work/runtime"
mkdir -m 700 "$runtime"
export QT_QPA_PLATFORM=offscreen OFSFLASH_SIMULATE=fast XDG_RUNTIME_DIR="$runtime"
/usr/bin/ofsflash </dev/null >"$work/window.log" 2>&1 &
window=$!
# It is up once it answers for its single instance; 30 s at most.
for _ in $(seq 300); do
  [ -S "$runtime/ofsflash-$(id -u).sock" ] || ! kill -0 "$window" 2>/dev/null && break
  sleep 0.1
done
kill -0 "$window" 2>/dev/null || { cat "$work/window.log"; fail "the window ended on its own"; }
[ -S "$runtime/ofsflash-$(id -u).sock" ] || fail "the window did not come up"
# A second start hands over to the running window and ends.
/usr/bin/ofsflash </dev/null >/dev/null 2>&1 || fail "a second start of the window did not end cleanly"
kill -0 "$window" 2>/dev/null || { cat "$work/window.log"; fail "the window ended when started again"; }
kill -TERM "$window"
status=0
wait "$window" || status=$?
[ "$status" -eq 143 ] || { cat "$work/window.log"; fail "the window ended with $status, not by SIGTERM"; }
unset QT_QPA_PLATFORM OFSFLASH_SIMULATE XDG_RUNTIME_DIR

step "purging"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ofstool ofsflash </dev/null >/dev/null
installed=""
for package in ofstool ofsflash; do
  state="$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)"
  [ -z "$state" ] || [ "$state" = not-installed ] || fail "$package is still $state"
done
# A directory may stay when another package owns it or something else lies in it.
while read -r path; do
  if [ -d "$path" ]; then
    [ -n "$(ls -A "$path")" ] || dpkg -S "$path" >/dev/null 2>&1 || fail "$path is left, empty"
  elif [ -e "$path" ] || [ -L "$path" ]; then
    fail "$path is left"
  fi
done < <(cat "$work/ofstool.list" "$work/ofsflash.list")

step "packages"
for deb in "$ofstool_deb" "$ofsflash_deb"; do
  echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
  dpkg-deb -c "$deb"
done
echo "packages built, installed, checked and purged"
