// Any bytes as a zip archive, opened and unpacked by the loader's own reader.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/TemporaryFile.h"
#include "app/ZipArchive.h"

namespace {

// Members above this are refused as oversized; a small limit keeps runs fast
// while still reaching the refusal path.
constexpr uint64_t kFuzzMaxMemberBytes = 64 * 1024;

bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The reader takes a path: an in-memory file keeps the disk out of the loop.
  const int fd = memfd_create("fuzz-zip", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (WriteAll(fd, data, size)) {
    ofs::ZipArchive zip("/proc/self/fd/" + std::to_string(fd));
    if (zip.MemberCount() > 0) {
      if (auto file = ofs::TemporaryFile::Create()) zip.ExtractLastInto(*file, kFuzzMaxMemberBytes);
    }
  }
  close(fd);
  return 0;
}
