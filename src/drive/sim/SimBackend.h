#pragma once
// The simulated drives as a transport back end; tests reach each drive's state.
#include <memory>
#include <vector>

#include "drive/Clock.h"
#include "drive/TransportBackend.h"
#include "drive/sim/SimProfile.h"
#include "drive/sim/SimulatedDrive.h"

namespace ofs {

class SimBackend : public TransportBackend {
 public:
  SimBackend(const SimProfile& profile, Clock& clock);

  std::vector<BackendDrive> Enumerate() override;
  void Select(int index) override;
  TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                          SenseData& sense) override;
  // One holder per simulated drive, as the real drives' lock gives.
  HoldResult Hold(int index, const TraceNote& note) override;
  std::string WhyNoDrive() const override { return "The simulation profile lists no drive."; }
  bool Held(int index) const { return held_->at(static_cast<std::size_t>(index)); }

  int DriveCount() const { return static_cast<int>(drives_.size()); }
  // index must be below DriveCount().
  SimulatedDrive& Drive(int index) { return *drives_.at(static_cast<std::size_t>(index)); }

 private:
  std::vector<std::unique_ptr<SimulatedDrive>> drives_;
  int selected_ = 0;
  std::shared_ptr<std::vector<bool>> held_;  // shared with the holds, which may outlive this
};

}  // namespace ofs
