#pragma once
// What a way of reaching drives must offer the transport: a list of drives and
// the execution of one 12-byte CDB on the selected one.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

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
  // False when the path reached cannot carry flash commands for this user
  // (e.g. only /dev/sr* without CAP_SYS_RAWIO).
  bool flashCommandsAllowed = true;
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
};

}  // namespace ofs
