#include "drive/sim/SimCommand.h"

#include <array>
#include <cstring>
#include <utility>

namespace ofs {
namespace {

constexpr std::array<std::pair<SimCommand, const char*>, kSimCommandCount - 1> kNames{{
    {SimCommand::TestUnitReady, "test_unit_ready"},
    {SimCommand::RequestSense, "request_sense"},
    {SimCommand::Inquiry, "inquiry"},
    {SimCommand::LoadTray, "load_tray"},
    {SimCommand::EjectTray, "eject_tray"},
    {SimCommand::StartStop, "start_stop"},
    {SimCommand::PreventAllow, "prevent_allow"},
    {SimCommand::EventStatus, "event_status"},
    {SimCommand::IdentityQuery, "identity"},
    {SimCommand::CapabilityQuery, "capability"},
    {SimCommand::ChecksumRead, "checksum_read"},
    {SimCommand::ChecksumSet, "checksum_set"},
    {SimCommand::ReadRom, "read_rom"},
    {SimCommand::KernelInfo, "kernel_info"},
    {SimCommand::FlashData, "flash_data"},
    {SimCommand::FlashCommit, "flash_commit"},
    {SimCommand::BlockSum, "block_sum"},
    {SimCommand::FirmwareBlock, "firmware_block"},
    {SimCommand::WriteBuffer, "write_buffer"},
    {SimCommand::Trigger, "trigger"},
    {SimCommand::BankSave, "bank_save"},
    {SimCommand::DownloadMode, "download_mode"},
}};

bool IsVendor(const uint8_t* cdb) { return cdb[1] == 0x00 && cdb[3] == 'O' && cdb[4] == 'R'; }

SimCommand ClassifyVendor(const uint8_t* cdb) {
  if (!IsVendor(cdb)) return SimCommand::Unknown;
  if (cdb[2] == 0x34) {
    if (cdb[5] == 0x00) return SimCommand::CapabilityQuery;
    if (cdb[5] == 0x0B) return cdb[6] == 0x01 ? SimCommand::ChecksumSet : SimCommand::ChecksumRead;
    return SimCommand::Unknown;
  }
  if (cdb[2] != 0x38) return SimCommand::Unknown;
  switch (cdb[5]) {
    case 0x10: return SimCommand::IdentityQuery;
    case 0x11: return SimCommand::ReadRom;
    case 0xA3: return SimCommand::KernelInfo;
    case 0xA0:
      // The commit carries the bank-count code (E0h + banks) where data carries a bank number.
      if (cdb[6] == 0x04 || (cdb[6] == 0x05 && cdb[7] >= 0xE0)) return SimCommand::FlashCommit;
      return cdb[6] == 0x05 ? SimCommand::FlashData : SimCommand::Unknown;
    default: return SimCommand::Unknown;
  }
}

SimCommand ClassifyWriteBuffer(const uint8_t* cdb) {
  switch (cdb[1] & 0x1F) {
    case 0x01: return SimCommand::DownloadMode;
    case 0x06: return SimCommand::WriteBuffer;
    case 0x07: return (cdb[6] | cdb[7] | cdb[8]) != 0 ? SimCommand::Trigger : SimCommand::BankSave;
    default: return SimCommand::Unknown;
  }
}

}  // namespace

SimCommand ClassifyCdb(const uint8_t* cdb) {
  switch (cdb[0]) {
    case 0x00: return SimCommand::TestUnitReady;
    case 0x03: return SimCommand::RequestSense;
    case 0x12: return SimCommand::Inquiry;
    case 0x1B:
      if ((cdb[4] & 0x03) == 0x03) return SimCommand::LoadTray;
      if ((cdb[4] & 0x03) == 0x02) return SimCommand::EjectTray;
      return SimCommand::StartStop;
    case 0x1E: return SimCommand::PreventAllow;
    case 0x4A: return SimCommand::EventStatus;
    case 0x5A: return ClassifyVendor(cdb);
    case 0x3B: return ClassifyWriteBuffer(cdb);
    case 0xFD: return std::memcmp(cdb + 1, "\x07VIDA", 5) == 0 ? SimCommand::BlockSum : SimCommand::Unknown;
    case 0xFA: return SimCommand::FirmwareBlock;
    default: return SimCommand::Unknown;
  }
}

int CdbSubFunction(const uint8_t* cdb) {
  switch (cdb[0]) {
    case 0x5A: return cdb[5];
    case 0x3B: return cdb[1] & 0x1F;
    case 0x1B: return cdb[4] & 0x03;
    default: return -1;
  }
}

std::size_t GroupCdbLength(uint8_t opcode) {
  static constexpr std::array<std::size_t, 8> kByGroup{6, 10, 10, 12, 16, 12, 10, 10};
  return kByGroup[opcode >> 5];
}

std::optional<SimCommand> SimCommandFromName(const std::string& name) {
  for (const auto& [kind, known] : kNames)
    if (name == known) return kind;
  return std::nullopt;
}

bool SimCommandSelector::Matches(const uint8_t* cdb, SimCommand kind) const {
  if (command) return *command == kind;
  if (opcode != cdb[0]) return false;
  return sub < 0 || sub == CdbSubFunction(cdb);
}

}  // namespace ofs
