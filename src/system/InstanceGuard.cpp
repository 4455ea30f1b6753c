#include "system/InstanceGuard.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace ofs {

namespace {

constexpr char kRequest[] = "activate\n";
constexpr char kAcknowledge[] = "ok\n";
// A peer that connects but says nothing is dropped after this long.
constexpr int kPeerTimeoutMs = 1000;
constexpr std::size_t kMaxTitleLength = 64;

std::string SafeName(const std::string& title) {
  std::string name = title.substr(0, kMaxTitleLength);
  for (char& c : name) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.';
    if (!safe) c = '_';
  }
  return name.empty() ? std::string("ofsflash") : name;
}

std::optional<sockaddr_un> SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool SendAll(int fd, const char* text) {
  const std::size_t length = std::strlen(text);
  return ::send(fd, text, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

// Reads one short message and tells whether it is `expected`.
bool Receive(int fd, const char* expected) {
  char buffer[16] = {};
  const ssize_t got = ::recv(fd, buffer, sizeof buffer - 1, 0);
  return got > 0 && std::strcmp(buffer, expected) == 0;
}

void SetTimeouts(int fd, int milliseconds) {
  const timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

}  // namespace

InstancePaths InstancePathsFor(const std::string& title) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string directory = (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
  const std::string base = directory + "/" + SafeName(title) + "-" + std::to_string(::geteuid());
  return {base + ".lock", base + ".sock"};
}

InstanceGuard::Outcome InstanceGuard::Acquire(const InstancePaths& paths, std::function<void()> onActivation,
                                              std::unique_ptr<InstanceGuard>& guard) {
  // O_NOFOLLOW and the owner check keep another user's planted file in /tmp from being used.
  int fd = ::open(paths.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Outcome::Unavailable;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || !S_ISREG(info.st_mode)) {
    CloseFd(fd);
    return Outcome::Unavailable;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    CloseFd(fd);
    return held ? Outcome::HeldElsewhere : Outcome::Unavailable;
  }
  guard = std::make_unique<InstanceGuard>(Token(), fd, paths.socket, std::move(onActivation));
  guard->Listen();
  return Outcome::Acquired;
}

bool InstanceGuard::RequestActivation(const InstancePaths& paths) {
  const std::optional<sockaddr_un> address = SocketAddress(paths.socket);
  struct stat info {};
  if (!address || ::lstat(paths.socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
      info.st_uid != ::geteuid()) {
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  SetTimeouts(fd, kPeerTimeoutMs);
  // A stale socket file with nobody listening refuses at once.
  const bool acknowledged = ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 &&
                            SendAll(fd, kRequest) && Receive(fd, kAcknowledge);
  CloseFd(fd);
  return acknowledged;
}

InstanceGuard::InstanceGuard(Token, int lockFd, std::string socketPath, std::function<void()> onActivation)
    : lockFd_(lockFd), socketPath_(std::move(socketPath)), onActivation_(std::move(onActivation)) {}

// Without a listener the lock still guards; later instances just cannot raise this one.
void InstanceGuard::Listen() {
  const std::optional<sockaddr_un> address = SocketAddress(socketPath_);
  if (!address) return;
  // Only the lock holder binds, so a file left here is a dead instance's.
  ::unlink(socketPath_.c_str());
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (listenFd_ < 0 || stopFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    CloseFd(listenFd_);
    CloseFd(stopFd_);
    return;
  }
  if (::chmod(socketPath_.c_str(), 0600) != 0 || ::listen(listenFd_, 4) != 0) {
    ::unlink(socketPath_.c_str());
    CloseFd(listenFd_);
    CloseFd(stopFd_);
    return;
  }
  listener_ = std::thread([this] { Serve(); });
}

void InstanceGuard::Serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Answer(client);
    CloseFd(client);
  }
}

void InstanceGuard::Answer(int client) {
  pollfd fds[2] = {{client, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  if (::poll(fds, 2, kPeerTimeoutMs) <= 0 || fds[1].revents != 0 || !Receive(client, kRequest)) return;
  if (onActivation_) onActivation_();
  SetTimeouts(client, kPeerTimeoutMs);
  SendAll(client, kAcknowledge);
}

InstanceGuard::~InstanceGuard() {
  if (listener_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(stopFd_, &one, sizeof one);
    listener_.join();
  }
  if (listenFd_ >= 0) ::unlink(socketPath_.c_str());
  CloseFd(listenFd_);
  CloseFd(stopFd_);
  CloseFd(lockFd_);  // releases the lock; the file stays so that no two lock different files
}

}  // namespace ofs
