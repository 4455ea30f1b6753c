#include "params/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ofs {

namespace {

std::string OpenProblem(int error, int flags) {
  // A file that is created when missing is missing a folder.
  if (error == ENOENT && (flags & O_CREAT) == 0) return "no such file";
  if (error == EACCES) return "permission denied";
  return std::strerror(error);
}

std::string KindProblem(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory";
  return std::string("is ") + FileKindName(mode) + ", not a regular file";
}

// The kind is looked at before anything is opened, since opening a device can act on it;
// the open itself never waits (a fifo put there meanwhile has no writer to wait for) and
// what it opened is looked at again.
FileDescriptor OpenRegular(const std::string& path, int flags, std::string& problem, uint64_t& size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    problem = KindProblem(info.st_mode);
    return {};
  }
  FileDescriptor fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    problem = OpenProblem(errno, flags);
    return {};
  }
  if (!S_ISREG(info.st_mode)) {
    problem = KindProblem(info.st_mode);
    return {};
  }
  size = static_cast<uint64_t>(info.st_size);
  return fd;
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

bool FileDescriptor::Close() { return ::close(Release()) == 0; }

int FileDescriptor::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

const char* FileKindName(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a fifo";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

InputFile::InputFile(const std::string& path) : fd_(OpenRegular(path, O_RDONLY, problem_, size_)) {}

std::optional<std::size_t> InputFile::Read(uint8_t* destination, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd_.get(), destination + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::optional<std::vector<uint8_t>> ReadRegularFile(const std::string& path, std::string& problem, uint64_t limit) {
  InputFile file(path);
  if (!file.ok()) {
    problem = file.problem();
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<std::size_t>(file.size() > limit ? limit + 1 : file.size()));
  const std::optional<std::size_t> got = file.Read(bytes.data(), bytes.size());
  if (!got) {
    problem = std::strerror(errno);
    return std::nullopt;
  }
  bytes.resize(*got);
  return bytes;
}

FileDescriptor OpenRegularFileForAppend(const std::string& path, std::string& problem) {
  uint64_t size = 0;
  return OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT, problem, size);
}

}  // namespace ofs
