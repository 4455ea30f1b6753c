#pragma once
// The simulated drives as a transport back end; tests reach each drive's state.
#include <cerrno>
#include <memory>
#include <vector>

#include "drive/Clock.h"
#include "drive/TransportBackend.h"
#include "drive/sim/SimProfile.h"
#include "drive/sim/SimulatedDrive.h"

namespace ofs {

struct SimRack;  // the drives every handle of one profile shares

class SimBackend : public TransportBackend {
 public:
  SimBackend(const SimProfile& profile, Clock& clock);
  ~SimBackend() override;

  std::vector<BackendDrive> Enumerate() override;
  void Select(int index) override;
  TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                          SenseData& sense) override;
  // One holder per simulated drive, as the real drives' lock gives.
  HoldResult Hold(int index, const TraceNote& note) override;
  // A drive gone from the system: the kernel says ENODEV for it.
  int LastSystemError() const override { return gone_ ? ENODEV : 0; }
  bool LastDriveGone() const override { return gone_; }
  std::string WhyNoDrive() const override { return "The simulation profile lists no drive."; }
  bool Held(int index) const;
  // The same drives; on virtual time the handle keeps a time of its own, so one
  // thread's waits do not hurry another's drive.
  SharedBackend Share() override;

  int DriveCount() const;
  // index must be below DriveCount().
  SimulatedDrive& Drive(int index);

 private:
  SimBackend(std::shared_ptr<SimRack> rack, Clock& clock);

  std::shared_ptr<SimRack> rack_;  // shared with the other handles and the holds, which may outlive this
  Clock& clock_;                   // the time of this handle's commands
  int selected_ = 0;
  bool gone_ = false;  // the last command found its drive gone
};

}  // namespace ofs
