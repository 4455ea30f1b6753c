#pragma once
// A transport over a recording back end on virtual time, for the command-set tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "drive/AtapiImp.h"
#include "drive/CommandTrace.h"
#include "support/RecordingBackend.h"

namespace ofs::test {

inline std::vector<BackendDrive> SomeDrives(int count) {
  std::vector<BackendDrive> drives;
  for (int i = 0; i < count; ++i) drives.push_back({"/dev/sg" + std::to_string(i), "VENDOR  PRODUCT", "1.00"});
  return drives;
}

struct DriveRig {
  explicit DriveRig(int driveCount = 2, std::unique_ptr<CommandTrace> trace = nullptr) {
    auto backend = std::make_unique<RecordingBackend>(SomeDrives(driveCount));
    recorder = backend.get();
    atapi = std::make_unique<TAtapiImp>(std::move(backend), clock, true, std::move(trace));
  }

  // Answers every command with status 2 and the given sense key / ASC / ASCQ.
  void AnswerCheckCondition(uint8_t key, uint8_t asc, uint8_t ascq) {
    recorder->handler = [=](const RecordedCommand&, uint8_t*, SenseData& sense) {
      sense[0] = 0x70;
      sense[2] = key;
      sense[12] = asc;
      sense[13] = ascq;
      return kStatusCheckCondition;
    };
  }

  // Answers the commands whose CDB (in hex) starts with cdbPrefix with reply;
  // earlier answers still apply to the other commands.
  void Reply(const std::string& cdbPrefix, std::vector<uint8_t> reply, TransportStatus status = kStatusGood) {
    auto previous = recorder->handler;
    recorder->handler = [=](const RecordedCommand& c, uint8_t* buffer, SenseData& sense) {
      if (CdbHex(c.cdb).rfind(cdbPrefix, 0) != 0) return previous ? previous(c, buffer, sense) : kStatusGood;
      std::copy(reply.begin(), reply.begin() + std::min<std::size_t>(reply.size(), c.length), buffer);
      return status;
    };
  }

  std::string LastCdb() const { return CdbHex(recorder->commands.back().cdb); }

  VirtualClock clock;
  RecordingBackend* recorder = nullptr;
  std::unique_ptr<TAtapiImp> atapi;
};

class DriveTest : public ::testing::Test, public DriveRig {};

}  // namespace ofs::test
