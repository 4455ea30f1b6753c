#pragma once
// The Linux back end: CD/DVD drives through the kernel's SCSI generic (sg) and
// CD-ROM (sr) nodes.
#include <memory>
#include <string>
#include <vector>

#include "drive/TransportBackend.h"
#include "drive/sgio/SgSystem.h"

namespace ofs {

class SgioBackend final : public TransportBackend {
 public:
  static constexpr unsigned kTimeoutMs = 20000;
  static constexpr unsigned char kSenseBufferLength = 32;

  SgioBackend(std::unique_ptr<SgSystem> system, SgioPaths paths);
  ~SgioBackend() override;
  SgioBackend(const SgioBackend&) = delete;
  SgioBackend& operator=(const SgioBackend&) = delete;

  std::vector<BackendDrive> Enumerate() override;
  void Select(int index) override;
  TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                          SenseData& sense) override;
  int LastSystemError() const override { return lastErrno_; }
  bool LastDriveGone() const override { return gone_; }
  std::string WhyNoDrive() const override;
  HoldResult Hold(int index, const TraceNote& note) override;
  // Opens the drives again: the system lists them in the same order while none comes or goes.
  SharedBackend Share() override;

 private:
  struct OpenNode {
    int fd = -1;
    std::string path;
    bool generic = false;  // an sg node: commands go through its write()/read() interface
    CommandFilter filter = CommandFilter::KernelSafeList;
    std::string sgName, srName;  // the drive's nodes, whichever this process opened
  };
  OpenNode OpenDrive(const std::string& sgName, const std::string& srName);
  TransportStatus ExecuteOn(OpenNode& node, const uint8_t* cdb, uint8_t* buffer, uint32_t length,
                            uint8_t direction, SenseData& sense);
  int SubmitAndCollect(OpenNode& node, sg_io_hdr_t& request);
  BackendDrive Identify(OpenNode& node);
  void CloseAll();

  std::unique_ptr<SgSystem> system_;
  SgioPaths paths_;
  std::vector<OpenNode> nodes_;  // one open node per enumerated drive, in drive order
  int selected_ = -1;
  int lastErrno_ = 0;
  bool gone_ = false;  // the last command found the drive gone from the system
  int packId_ = 0;
};

}  // namespace ofs
