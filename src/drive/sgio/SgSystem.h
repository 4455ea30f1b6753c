#pragma once
// The system calls of the SG_IO back end, behind an interface that tests replace.
#include <scsi/sg.h>

#include <memory>
#include <string>

namespace ofs {

class SgSystem {
 public:
  virtual ~SgSystem() = default;
  // A file descriptor, or -1.
  virtual int Open(const std::string& path, int flags) = 0;
  virtual void Close(int fd) = 0;
  // The result of ioctl(fd, SG_IO, &request).
  virtual int SgIo(int fd, sg_io_hdr_t& request) = 0;
  // CAP_SYS_RAWIO lets any opened node (also /dev/sr*) carry vendor commands.
  virtual bool HasRawIoCapability() = 0;
};

std::unique_ptr<SgSystem> MakeLinuxSgSystem();

}  // namespace ofs
