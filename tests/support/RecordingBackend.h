#pragma once
// A transport back end for tests: records every command and answers it through
// a handler the test supplies (default: GOOD with no data).
#include <functional>
#include <string>
#include <vector>

#include "drive/TransportBackend.h"

namespace ofs::test {

struct RecordedCommand {
  int drive = 0;
  std::array<uint8_t, 12> cdb{};
  uint8_t direction = 0;
  uint32_t length = 0;
  std::vector<uint8_t> dataOut;  // bytes sent to the drive
  bool held = false;             // sent while the drive was held
};

class RecordingBackend : public TransportBackend {
 public:
  using Handler = std::function<TransportStatus(const RecordedCommand&, uint8_t* buffer, SenseData& sense)>;

  explicit RecordingBackend(std::vector<BackendDrive> drives = {}) : drives_(std::move(drives)) {}

  std::vector<BackendDrive> Enumerate() override { return drives_; }
  void Select(int index) override {
    selected = index;
    ++selects;
  }
  TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                          SenseData& sense) override;
  int LastSystemError() const override { return systemError; }
  // Refused with holdError when set; otherwise held until the hold is destroyed.
  HoldResult Hold(int index, const TraceNote& note) override;

  Handler handler;
  int systemError = 0;  // what LastSystemError reports; handlers may set it
  std::string holdError;
  std::shared_ptr<int> holdsAlive = std::make_shared<int>(0);
  int holdsTaken = 0;
  std::vector<RecordedCommand> commands;
  int selected = 0;
  int selects = 0;

 private:
  std::vector<BackendDrive> drives_;
};

// "5a00384f5210..." for a CDB, for readable expectations.
std::string CdbHex(const std::array<uint8_t, 12>& cdb);

}  // namespace ofs::test
