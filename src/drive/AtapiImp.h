#pragma once
// The one transport object: the drive table, the current target, status and sense.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "drive/Clock.h"
#include "drive/CommandTrace.h"  // complete: callers build the defaulted trace argument
#include "drive/TransportBackend.h"

namespace ofs {

struct AtapiDriveEntry {
  std::string devicePath;
  std::string identification;  // vendor + product, 24 characters
  std::string revision;        // 4 characters
  bool flashCommandsAllowed = true;
};

class TAtapiImp {
 public:
  static constexpr int kMaxDrives = 20;

  // useSpti: the platform's family (true on NT and on Linux). clock serves every wait
  // above the transport. trace may be null.
  TAtapiImp(std::unique_ptr<TransportBackend> backend, Clock& clock, bool useSpti,
            std::unique_ptr<CommandTrace> trace = nullptr);
  ~TAtapiImp();
  TAtapiImp(const TAtapiImp&) = delete;
  TAtapiImp& operator=(const TAtapiImp&) = delete;

  void SelectDrive(int index);
  TransportStatus ExecuteCommand(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction);
  // Copies the sense of the last command and returns its byte 2, unmasked.
  uint8_t GetSenseData(uint8_t* out18) const;

  int currentDrive = 0;
  bool useSpti = true;
  int driveCount = 0;
  std::array<AtapiDriveEntry, kMaxDrives> drives{};

  Clock& clock() { return clock_; }

 private:
  std::unique_ptr<TransportBackend> backend_;
  Clock& clock_;
  std::unique_ptr<CommandTrace> trace_;
  SenseData sense_{};
};

}  // namespace ofs
