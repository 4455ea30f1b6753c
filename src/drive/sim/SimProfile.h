#pragma once
// What a simulated drive is: identity or firmware, tray, capabilities, timing and
// the faults it injects. Read from the profile text described in docs/simulator.md.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/sim/SimCommand.h"
#include "drive/sim/SimFactory.h"
#include "firmware/Ofs.h"

namespace ofs {

using SimSense = std::array<uint8_t, 3>;  // sense key, ASC, ASCQ

// One injected failure: the commands the selector matches fail from their
// firstUse-th use on, `times` uses in a row (0 = every use from then on).
struct SimFailure {
  SimCommandSelector selector;
  int firstUse = 1;
  int times = 1;
  bool transportError = false;  // status 0 instead of CHECK CONDITION
  bool gone = false;            // the drive leaves the system: this and every later command fail at the transport
  SimSense sense{0x05, 0x24, 0x00};
};

// The drive raises `signal` in its own process when it receives the use-th
// command the selector matches (a test's way to stop the host at an exact point).
struct SimSignalRaise {
  int signal = 0;
  SimCommandSelector selector;
  int use = 1;
};

enum class SimLoadTray {
  Closes,          // the tray closes, GOOD
  Fails,           // CHECK CONDITION with loadTraySense, the tray stays as it is
  FailsAndCloses,  // CHECK CONDITION with loadTraySense, but the tray closes
};

enum class SimChecksumMode { Computed, Wrong, Fixed };

// The flash type the drive's boot code speaks; a drive refuses the commands of
// every other family. kSimPhilipsFamily: Philips blocks only.
inline constexpr int kSimPhilipsFamily = 256;
inline constexpr int kSimAnyFamily = -1;  // stated in a profile: no firmware's family applies

struct SimDriveProfile {
  // Identity used to build the initial flash when no firmware file is given.
  std::string vendor = "ORVA";
  std::string product = "SIMULATED";
  std::string revision = "1.00";
  std::string hardwareId;  // empty: the vendor reply takes the one of the flash's template
  std::string dateCode = "000000";
  // Firmware file (container or flat image); loaded by LoadSimProfile into `firmware`.
  std::string firmwarePath;
  int firmwareLine = 0;
  std::vector<uint8_t> firmware;  // the flat image once loaded
  // Keeps the flash across runs (a drive outlives the program): read by LoadSimProfile
  // when it exists, written by the drive when it starts and after every programming run.
  std::string flashFile;
  int flashFileLine = 0;
  std::vector<SOFSReserveBlock> checksumExclude;  // ranges the drive leaves out of its own checksum
  // Empty: the one the firmware declares, else a drive that speaks every family.
  std::optional<int> flashFamily;

  bool hardwareIdReply = true;
  uint16_t capabilities = 0;  // bit n = capability n (1..13)
  bool trayOpen = false;
  bool mediumPresent = false;
  SimLoadTray loadTray = SimLoadTray::Closes;
  SimSense loadTraySense{0x05, 0x24, 0x00};

  uint32_t flashSize = 2u << 20;  // multiple of 65536, at most 16 MiB
  uint32_t latencyMs = 0;         // every command takes this long, and at least 1 ms
  uint32_t programmingMs = 3000;  // one programming run, whatever its bank count
  uint8_t progressAscq = 0x08;    // NOT READY 04/xx while programming
  bool finishWithUnitAttention = false;  // kernel programming ends with 06/29 instead of the last bank
  // The transport carries only GroupCdbLength bytes of a CDB (the kernel's SCSI target):
  // bytes 10-11 of a 12-byte 5Ah or FDh command are unknown, and the checks on them are skipped.
  bool cdbsCutToGroupLength = false;
  uint32_t maxTransferKb = 0;  // the path's limit per command, as a USB bridge has one; 0: none

  // Faults.
  int stayInBoot = 0;  // the next K flashes leave the drive in its boot code
  bool neverReady = false;
  bool neverFinish = false;
  bool unplugged = false;
  SimChecksumMode checksumMode = SimChecksumMode::Computed;
  uint16_t fixedChecksum = 0;
  std::vector<SimFailure> failures;
  std::vector<SimSignalRaise> raises;
};

struct SimProfile {
  bool virtualClock = false;
  std::vector<SimDriveProfile> drives;
};

inline constexpr std::size_t kSimMaxDrives = 20;

// Reads a profile text; never reads files (firmware paths are only recorded).
// Errors name the line: "line 7: unknown key 'tary'".
SimProfileResult ParseSimProfile(const std::string& text);

// The two demo drives; every other part of the program may rely on their identity.
SimProfile BuiltInDemoProfile(bool virtualClock);

}  // namespace ofs
