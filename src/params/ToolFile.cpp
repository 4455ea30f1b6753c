// Whole-file helpers of the Tool unit. Writes go to a private file beside the
// target that is renamed over it only when every byte reached the disk, so a
// failed write never leaves a truncated file under the user's name. Only a
// regular file is replaced that way: a device or fifo is written into and a
// symbolic link written through, since renaming over them would destroy what
// the user named (a /dev node turned into a plain file, a link cut off).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "params/OutputFile.h"
#include "params/RegularFile.h"
#include "params/Tool.h"

namespace ofs {

namespace {

// An existing file is removed first; one that cannot be opened for reading
// and writing is not ours to replace.
bool RemoveExisting(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return true;
  FileDescriptor probe(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!probe.valid()) return false;
  probe.Close();
  return ::unlink(path.c_str()) == 0;
}

std::string Reason(int error) { return std::strerror(error); }

std::string ReplaceRegularFile(const std::string& path, const uint8_t* bytes, std::size_t length) {
  if (!RemoveExisting(path)) return Reason(errno);
  return WriteBesideAndRename(path, bytes, length, std::nullopt);
}

// A terminal, pipe or device node takes the bytes as they come: there is no
// sibling to rename and no fsync to ask of it. The open does not wait: a fifo
// that nobody reads is refused at once, and the writes then wait as usual.
std::string WriteInto(const std::string& path, const uint8_t* bytes, std::size_t length) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return errno == ENXIO ? "it is a fifo that nobody reads" : Reason(errno);
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Reason(errno);
  if (!WriteAll(fd.get(), bytes, length)) return Reason(errno);
  if (!fd.Close()) return Reason(errno);
  return {};
}

// The regular file a symbolic link ends at, so that the temporary is made
// beside the target and renamed over it, leaving the link in place.
std::string ResolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string result = resolved;
  std::free(resolved);
  return result;
}

std::string Refusal(mode_t mode) {
  errno = S_ISDIR(mode) ? EISDIR : EINVAL;
  return std::string("it is ") + FileKindName(mode) + ", not a file";
}

}  // namespace

std::string WriteFileBinaryError(const std::string& path, const uint8_t* bytes, std::size_t length) {
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0) {
    if (errno != ENOENT) return Reason(errno);
    return ReplaceRegularFile(path, bytes, length);  // a new file
  }
  const bool link = S_ISLNK(entry.st_mode);
  if (link && ::stat(path.c_str(), &entry) != 0) {
    // A dangling link is refused rather than followed into creating a file
    // somewhere the user may not expect.
    errno = ENOENT;
    return "it is a symbolic link to nothing";
  }
  if (S_ISCHR(entry.st_mode) || S_ISFIFO(entry.st_mode)) return WriteInto(path, bytes, length);
  if (!S_ISREG(entry.st_mode)) return Refusal(entry.st_mode);
  if (!link) return ReplaceRegularFile(path, bytes, length);
  const std::string target = ResolvedPath(path);
  if (target.empty()) return Reason(errno);
  return ReplaceRegularFile(target, bytes, length);
}

bool WriteFileBinary(const std::string& path, const uint8_t* bytes, std::size_t length) {
  return WriteFileBinaryError(path, bytes, length).empty();
}

uint32_t GetFileLength(const std::string& path) {
  const InputFile file(path);
  // A length that does not fit the 32-bit result would be reported wrapped
  // around and the file read short; such a file is no firmware, so say 0.
  if (!file.ok() || file.size() > UINT32_MAX) return 0;
  return static_cast<uint32_t>(file.size());
}

bool ReadFileBinary(const std::string& path, uint32_t count, uint8_t* destination) {
  InputFile file(path);
  // Unlike a short file, a read error is no success.
  return file.ok() && file.Read(destination, count).has_value();
}

}  // namespace ofs
