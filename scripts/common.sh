# Shared by ./run and ./test: install what a fresh Debian 12 machine lacks, then build.
set -euo pipefail

OFS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OFS_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libminizip-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsystemd-dev nlohmann-json3-dev dbus-bin fonts-dejavu-core)
# What ./test adds: clang for the fuzzers, a QEMU guest with an emulated ATAPI drive
# (kernel fetched by tests/qemu/fetch-kernel.sh), gcovr for ./test --coverage, python3 whose JSON
# parser reads ofstool's JSON in the tests.
OFS_TEST_PACKAGES=(clang libclang-rt-14-dev qemu-system-x86 busybox-static cpio kmod xz-utils gcovr python3)
# The desktop validators for the launcher and AppStream tests; the package stage installs its own tools.
OFS_TEST_PACKAGES+=(appstream desktop-file-utils)

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
