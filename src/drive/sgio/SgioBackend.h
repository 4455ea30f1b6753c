#pragma once
// The Linux back end: CD/DVD drives through the kernel's SG_IO request.
#include <memory>
#include <string>
#include <vector>

#include "drive/TransportBackend.h"
#include "drive/sgio/SgSystem.h"

namespace ofs {

struct SgioPaths {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
};

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

 private:
  struct OpenNode {
    int fd = -1;
    std::string path;
    bool flashCommandsAllowed = false;
  };
  OpenNode OpenDrive(const std::string& sgName, const std::string& srName);
  TransportStatus ExecuteOn(int fd, const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                            SenseData& sense);
  BackendDrive Identify(const OpenNode& node);
  void CloseAll();

  std::unique_ptr<SgSystem> system_;
  SgioPaths paths_;
  std::vector<int> fds_;  // one open node per enumerated drive, in drive order
  int selected_ = -1;
};

}  // namespace ofs
