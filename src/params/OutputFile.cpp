#include "params/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "params/RegularFile.h"

namespace ofs {

namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file beside `path` that nobody else can have opened (O_EXCL); the
// mode follows the umask like any file the program creates.
FileDescriptor CreateSiblingTemp(const std::string& path, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = DirectoryOf(path) + "/.ofsflash-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1)) + ".tmp";
    FileDescriptor fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  return FileDescriptor();
}

}  // namespace

bool WriteAll(int fd, const uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string WriteBesideAndRename(const std::string& path, const uint8_t* bytes, std::size_t length,
                                 std::optional<mode_t> mode) {
  std::string tempPath;
  FileDescriptor fd = CreateSiblingTemp(path, tempPath);
  if (!fd.valid()) return std::strerror(errno);
  const bool written = (!mode || ::fchmod(fd.get(), *mode) == 0) && WriteAll(fd.get(), bytes, length) &&
                       ::fsync(fd.get()) == 0;
  const bool closed = fd.Close();
  if (written && closed && std::rename(tempPath.c_str(), path.c_str()) == 0) return {};
  const int reason = errno;  // the caller tells the user why, not what the clean-up did
  ::unlink(tempPath.c_str());
  errno = reason;
  return std::strerror(reason);
}

std::string OutputFileProblem(const std::string& path) {
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0) return errno == ENOENT ? std::string() : std::strerror(errno);
  if (S_ISLNK(entry.st_mode)) return "is a symbolic link";
  if (!S_ISREG(entry.st_mode)) return std::string("is ") + FileKindName(entry.st_mode);
  // The rename would replace a file its owner keeps from being written.
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return "is a file you may not write";
  return {};
}

std::string WriteOutputFile(const std::string& path, const uint8_t* bytes, std::size_t length,
                            std::optional<mode_t> newMode) {
  if (std::string problem = OutputFileProblem(path); !problem.empty()) return "it " + problem;
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) newMode = existing.st_mode & 07777;
  return WriteBesideAndRename(path, bytes, length, newMode);
}

}  // namespace ofs
