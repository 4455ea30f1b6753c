#pragma once
// The system calls of the SG_IO back end, behind an interface that tests replace.
#include <scsi/sg.h>

#include <sys/types.h>

#include <cstdint>

#include <memory>
#include <string>

namespace ofs {

// Where the system keeps what the back end reads and writes besides the nodes.
struct SgioPaths {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string lockRoot = "/run/lock";  // the per-drive lock files every user shares
  std::string procRoot = "/proc";
};

class SgSystem {
 public:
  virtual ~SgSystem() = default;
  // A file descriptor, or -1.
  virtual int Open(const std::string& path, int flags) = 0;
  virtual void Close(int fd) = 0;
  // The result of ioctl(fd, SG_IO, &request), once: never retried here.
  virtual int SgIo(int fd, sg_io_hdr_t& request) = 0;
  // The sg driver's own interface: write() submits a request, poll() waits
  // for its reply (-1 = without limit), read() collects it. -1 and errno on failure.
  virtual ssize_t Write(int fd, const sg_io_hdr_t& request) = 0;
  virtual int Poll(int fd, int timeoutMs) = 0;
  virtual ssize_t Read(int fd, sg_io_hdr_t& reply) = 0;
  // The node is still there (a drive that leaves the system takes its nodes with it).
  virtual bool Exists(const std::string& /*path*/) { return true; }
  // The most bytes one command through this node may carry (BLKSECTGET); 0 when the kernel does not say.
  virtual uint32_t MaxTransferBytes(int /*fd*/) { return 0; }
  // CAP_SYS_RAWIO lets any opened node (also /dev/sr*) carry vendor commands.
  virtual bool HasRawIoCapability() = 0;
  // The same system for a second back end on another thread; null when there is none.
  virtual std::unique_ptr<SgSystem> Another() { return nullptr; }
};

std::unique_ptr<SgSystem> MakeLinuxSgSystem();

}  // namespace ofs
