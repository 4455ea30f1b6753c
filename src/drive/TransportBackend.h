#pragma once
// What a way of reaching drives must offer the transport: a list of drives and
// the execution of one 12-byte CDB on the selected one.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/Clock.h"
#include "drive/CommandFilter.h"

namespace ofs {

// Direction codes shared by every caller.
inline constexpr uint8_t kDirNone = 0;
inline constexpr uint8_t kDirIn = 8;    // data from the drive
inline constexpr uint8_t kDirOut = 16;  // data to the drive

// 1 = success; 0 = the request itself failed; anything else = SCSI status (2 = CHECK CONDITION).
using TransportStatus = uint8_t;
inline constexpr TransportStatus kStatusGood = 1;
inline constexpr TransportStatus kStatusTransportError = 0;
inline constexpr TransportStatus kStatusCheckCondition = 2;

using SenseData = std::array<uint8_t, 18>;  // fixed format: [2]&0x0F key, [12] ASC, [13] ASCQ

struct BackendDrive {
  std::string devicePath;      // e.g. /dev/sg1
  std::string identification;  // vendor (8) + product (16) from INQUIRY
  std::string revision;        // product revision (4)
  CommandFilter filter = CommandFilter::None;
  uint32_t maxTransfer = 0;  // the most bytes one command may carry to or from the drive; 0: not known
  std::string transport{};   // how the drive is attached: "ata", "usb", "scsi" or "sim"
  std::string bridge{};      // for "usb": the bridge's vendor and product IDs, "152d:2339"
};

// Keeps other programs and flashers away from one drive while it lives.
class DriveHold {
 public:
  virtual ~DriveHold() = default;
};

// A note for the command trace (what the hold did to the system and why).
using TraceNote = std::function<void(const std::string&)>;

struct HoldResult {
  std::unique_ptr<DriveHold> hold;  // null when the drive cannot be had
  std::string error;                // why, naming the drive
};

class TransportBackend;

// A second handle on the same drives, for another thread.
struct SharedBackend {
  std::unique_ptr<TransportBackend> backend;  // null when this back end cannot give one
  std::unique_ptr<Clock> clock;               // the handle's own time; null: the first handle's clock
};

class TransportBackend {
 public:
  virtual ~TransportBackend() = default;
  // Called once when the transport is built.
  virtual std::vector<BackendDrive> Enumerate() = 0;
  // Makes drive `index` the target of the following commands.
  virtual void Select(int index) = 0;
  // Runs one command on the selected drive; sense is filled (zeros when none).
  virtual TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                                  SenseData& sense) = 0;
  // The system's error number of the last Execute that failed in the system call, else 0.
  virtual int LastSystemError() const { return 0; }
  // The last Execute that failed found the drive gone from the system (unplugged, dropped by its bus).
  virtual bool LastDriveGone() const { return false; }
  // Why Enumerate found no drive, for a person to act on; empty when there is nothing to say.
  virtual std::string WhyNoDrive() const { return {}; }
  // Takes drive `index` for this process alone; `note` outlives the hold.
  virtual HoldResult Hold(int /*index*/, const TraceNote& /*note*/) { return {std::make_unique<DriveHold>(), {}}; }
  // Another handle that lists the same drives in the same order, made before any
  // thread uses either; each handle then serves one thread.
  virtual SharedBackend Share() { return {}; }
};

}  // namespace ofs
