#include "app/TemporaryFile.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace ofs {

std::string TemporaryFile::Folder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

std::optional<TemporaryFile> TemporaryFile::Create() {
  std::string pattern = (std::filesystem::path(Folder()) / "ofsflash-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return std::nullopt;
  return TemporaryFile(fd, std::string(name.data()));
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
  other.path_.clear();
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) close(fd_);
  if (!path_.empty()) unlink(path_.c_str());
}

bool TemporaryFile::Append(const uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd_, bytes, length);
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace ofs
