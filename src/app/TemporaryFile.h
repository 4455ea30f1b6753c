#pragma once
// A private temporary file (mode 0600, unique name) removed when the object goes,
// so an unpacked archive member never outlives the load that needed it.
#include <cstdint>
#include <optional>
#include <string>

namespace ofs {

class TemporaryFile {
 public:
  // In Folder(); nothing when it cannot be made there (errno tells why).
  static std::optional<TemporaryFile> Create();
  // TMPDIR, else /tmp. A TMPDIR that cannot be written is said, not silently replaced.
  static std::string Folder();
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  ~TemporaryFile();

  const std::string& path() const { return path_; }
  // False on a write error (errno tells why).
  bool Append(const uint8_t* bytes, std::size_t length);

 private:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;
};

}  // namespace ofs
