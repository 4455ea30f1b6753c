# Shared by ./run and ./test: install what a fresh Debian 12 machine lacks, then build.
set -euo pipefail

OFS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The build dependencies are debian/control's (Build-Depends, without versions, profiles and debhelper),
# so the packages and a developer's build cannot drift apart; the rest is what only the host needs: a
# compiler (implied on a Debian build machine), the window's platform plugins and the benchmarks.
ofs_build_depends() {
  sed -n '/^Build-Depends:/,/^[^ ]/{s/^Build-Depends://;/^[^ ]/!p}' "$OFS_ROOT/debian/control" | tr ',' '\n' |
    sed 's/[(<[|].*//;s/[[:space:]]//g' | grep -v -e '^$' -e '^debhelper-compat$'
}
mapfile -t OFS_PACKAGES < <(ofs_build_depends)
OFS_PACKAGES+=(g++ qt6-qpa-plugins libbenchmark-dev)
# What ./test adds: clang for the fuzzers, a QEMU guest with an emulated ATAPI drive
# (kernel fetched by tests/qemu/fetch-kernel.sh), gcovr for ./test --coverage. What the tests themselves
# need (python3, the desktop validators) is among the build dependencies.
OFS_TEST_PACKAGES=(clang libclang-rt-14-dev qemu-system-x86 busybox-static cpio kmod xz-utils gcovr)

ofs_install_dependencies() {
  local missing=()
  for p in "${OFS_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# ofs_build DIR [cmake options...]
ofs_build() {
  local dir="$1"; shift
  cmake -S "$OFS_ROOT" -B "$OFS_ROOT/$dir" -G Ninja "$@" >/dev/null
  cmake --build "$OFS_ROOT/$dir" -j "$(nproc)"
}
