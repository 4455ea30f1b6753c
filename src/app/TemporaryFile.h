#pragma once
// A private temporary file (mode 0600, unique name) removed when the object goes,
// so an unpacked archive member never outlives the load that needed it.
#include <cstdint>
#include <optional>
#include <string>

namespace ofs {

class TemporaryFile {
 public:
  static std::optional<TemporaryFile> Create();
  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  TemporaryFile(const TemporaryFile&) = delete;
  ~TemporaryFile();

  const std::string& path() const { return path_; }
  // Makes the file hold exactly these bytes; false on a write error.
  bool Truncate();
  bool Append(const uint8_t* bytes, std::size_t length);

 private:
  TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;
};

}  // namespace ofs
