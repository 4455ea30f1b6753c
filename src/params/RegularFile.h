#pragma once
// Opening a file the user named, the one way every part of the program does it: only a
// regular file is opened, and never with a wait, so a fifo, a device or a directory is
// refused at once with what it is instead of holding the open up or feeding bytes without end.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ofs {

// An owned file descriptor, closed when it goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now so that a failing close can be reported.
  bool Close();
  // Hands the descriptor over (to a stdio stream).
  int Release();

 private:
  int fd_ = -1;
};

// "a fifo", "a character device", "a directory", ...
const char* FileKindName(mode_t mode);

// A regular file open for reading, or why not.
class InputFile {
 public:
  explicit InputFile(const std::string& path);

  bool ok() const { return fd_.valid(); }
  // Empty when open, else what stops it, worded to follow the path: "no such file",
  // "permission denied", "is a directory", "is a fifo, not a regular file", or the
  // system's own text.
  const std::string& problem() const { return problem_; }
  // Its size when it was opened.
  uint64_t size() const { return size_; }
  // Up to `count` more bytes, fewer only at the end of the file; nothing on a read error.
  std::optional<std::size_t> Read(uint8_t* destination, std::size_t count);

 private:
  // Declared before fd_: opening it fills them in.
  std::string problem_;
  uint64_t size_ = 0;
  FileDescriptor fd_;
};

// The bytes of a regular file, no more than limit + 1 of them (so that the caller sees a
// file larger than it takes), or nothing with the reason in `problem`.
std::optional<std::vector<uint8_t>> ReadRegularFile(const std::string& path, std::string& problem, uint64_t limit);

// A regular file open for appending, created (0666 less the umask) when missing; a path
// that names anything else is refused with what it is and left alone.
FileDescriptor OpenRegularFileForAppend(const std::string& path, std::string& problem);

}  // namespace ofs
