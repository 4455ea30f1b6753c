#include "drive/sgio/SgSystem.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace ofs {
namespace {

constexpr int kCapSysRawIo = 17;

class LinuxSgSystem final : public SgSystem {
 public:
  int Open(const std::string& path, int flags) override { return ::open(path.c_str(), flags | O_CLOEXEC); }
  void Close(int fd) override { ::close(fd); }
  int SgIo(int fd, sg_io_hdr_t& request) override {
    int result;
    do {
      result = ::ioctl(fd, SG_IO, &request);
    } while (result < 0 && errno == EINTR);
    return result;
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
