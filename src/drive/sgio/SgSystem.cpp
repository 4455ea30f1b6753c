#include "drive/sgio/SgSystem.h"

#include <fcntl.h>
#include <poll.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>

namespace ofs {
namespace {

constexpr int kCapSysRawIo = 17;

class LinuxSgSystem final : public SgSystem {
 public:
  int Open(const std::string& path, int flags) override { return ::open(path.c_str(), flags | O_CLOEXEC); }
  void Close(int fd) override { ::close(fd); }
  std::unique_ptr<SgSystem> Another() override { return std::make_unique<LinuxSgSystem>(); }
  int SgIo(int fd, sg_io_hdr_t& request) override { return ::ioctl(fd, SG_IO, &request); }
  ssize_t Write(int fd, const sg_io_hdr_t& request) override { return ::write(fd, &request, sizeof request); }
  int Poll(int fd, int timeoutMs) override {
    pollfd wait{fd, POLLIN, 0};
    return ::poll(&wait, 1, timeoutMs);
  }
  ssize_t Read(int fd, sg_io_hdr_t& reply) override { return ::read(fd, &reply, sizeof reply); }
  bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }
  // The sg driver answers in bytes.
  uint32_t MaxTransferBytes(int fd) override {
    int bytes = 0;
    return ::ioctl(fd, BLKSECTGET, &bytes) == 0 && bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
  }
  // The effective set in /proc avoids a dependency on libcap for one bit.
  bool HasRawIoCapability() override {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
      if (key == "CapEff:") {
        unsigned long long mask = 0;
        status >> std::hex >> mask;
        return (mask >> kCapSysRawIo) & 1;
      }
    }
    return false;
  }
};

}  // namespace

std::unique_ptr<SgSystem> MakeLinuxSgSystem() { return std::make_unique<LinuxSgSystem>(); }

}  // namespace ofs
