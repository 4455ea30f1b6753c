#pragma once
// A simulated drive behind the real transport and command set, on virtual time.
#include <array>
#include <memory>

#include "drive/AtapiImp.h"
#include "drive/CommandTrace.h"
#include "drive/Winfunc.h"
#include "drive/sim/SimBackend.h"

namespace ofs::test {

using Cdb = std::array<uint8_t, 12>;

struct SimRig {
  explicit SimRig(const SimProfile& profile) {
    auto owned = std::make_unique<SimBackend>(profile, clock);
    backend = owned.get();
    atapi = std::make_unique<TAtapiImp>(std::move(owned), clock, true);
  }
  explicit SimRig(const SimDriveProfile& drive) : SimRig(SimProfile{true, {drive}}) {}

  SimulatedDrive& drive(int index = 0) { return backend->Drive(index); }

  bool Send(const Cdb& cdb, uint8_t* buffer = nullptr, uint16_t length = 0, uint8_t direction = kDirNone) {
    return SendAtapiCommand(*atapi, 0, cdb.data(), buffer, length, direction);
  }
  bool SendOut(const Cdb& cdb, const uint8_t* data, uint16_t length) {
    return Send(cdb, const_cast<uint8_t*>(data), length, kDirOut);
  }
  // Sense key, ASC, ASCQ of the last command.
  std::array<uint8_t, 3> Sense() const {
    uint8_t sense[18];
    atapi->GetSenseData(sense);
    return {static_cast<uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
  }

  VirtualClock clock;
  SimBackend* backend = nullptr;
  std::unique_ptr<TAtapiImp> atapi;
};

}  // namespace ofs::test
