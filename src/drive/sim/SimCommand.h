#pragma once
// The commands a simulated drive tells apart, and how a profile names them.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ofs {

enum class SimCommand {
  TestUnitReady,
  RequestSense,
  Inquiry,
  LoadTray,
  EjectTray,
  StartStop,  // START STOP UNIT without tray movement
  PreventAllow,
  EventStatus,
  IdentityQuery,
  CapabilityQuery,
  ChecksumRead,
  ChecksumSet,
  ReadRom,
  KernelInfo,
  FlashData,
  FlashCommit,
  BlockSum,
  FirmwareBlock,
  WriteBuffer,   // WRITE BUFFER mode 6
  Trigger,       // WRITE BUFFER mode 7 over 16 banks
  BankSave,      // WRITE BUFFER mode 7 of one bank
  DownloadMode,  // WRITE BUFFER mode 1
  Unknown,
};
inline constexpr int kSimCommandCount = static_cast<int>(SimCommand::Unknown) + 1;

SimCommand ClassifyCdb(const uint8_t* cdb);
// The byte that tells the variants of an opcode apart (5A: byte 5, 3B: mode,
// 1B: byte 4 & 3); -1 for opcodes without one.
int CdbSubFunction(const uint8_t* cdb);
// How many bytes of a CDB a transport that goes by the opcode's group carries (6,
// 10, 12 or 16), as the kernel's SCSI target does: 10 for 20h-5Fh and C0h-FFh.
std::size_t GroupCdbLength(uint8_t opcode);
// The command a profile names ("write_buffer"), if any.
std::optional<SimCommand> SimCommandFromName(const std::string& name);

// Which commands a fault applies to: a named command, or an opcode with an
// optional sub-function ("3B", "3B:06").
struct SimCommandSelector {
  std::optional<SimCommand> command;
  int opcode = -1;
  int sub = -1;
  bool Matches(const uint8_t* cdb, SimCommand kind) const;
};

}  // namespace ofs
