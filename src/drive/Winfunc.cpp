#include "drive/Winfunc.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "drive/ConsoleEscape.h"
#include "drive/IdentityText.h"
#include "system/StopSignals.h"

namespace ofs {
namespace {

using Cdb = std::array<uint8_t, 12>;

constexpr Cdb kTestUnitReady{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kRequestSense{0x03, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kInquiry{0x12, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kVendorIdentity{0x5A, 0x00, 0x38, 0x4F, 0x52, 0x10, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00};
constexpr Cdb kCapability{0x5A, 0x00, 0x34, 0x4F, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kReadChecksum{0x5A, 0x00, 0x34, 0x4F, 0x52, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kSetChecksum{0x5A, 0x00, 0x34, 0x4F, 0x52, 0x0B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kPreventRemoval{0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kFirmwareBlock{0xFA, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kLoadTray{0x1B, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kEjectTray{0x1B, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kTrayStatus{0x4A, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00};
constexpr Cdb kMediumStatus{0x4A, 0x01, 0x00, 0x00, 0x50, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00};
constexpr Cdb kReadRom{0x5A, 0x00, 0x38, 0x4F, 0x52, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kKernelInfo{0x5A, 0x00, 0x38, 0x4F, 0x52, 0xA3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kWriteFlashBuffer{0x3B, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kTriggerFlash{0x3B, 0x07, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Cdb kDownloadMode{0x3B, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

constexpr uint16_t kInquiryLength = 255;
constexpr uint16_t kVendorIdentityLength = 20;
constexpr uint16_t kCapabilityLength = 8;
constexpr uint16_t kEventStatusLength = 16;
constexpr uint16_t kFirmwareBlockLength = 16384;
constexpr uint16_t kKernelInfoLength = 65535;

void PutBigEndian16(Cdb& cdb, int at, uint16_t value) {
  cdb[at] = static_cast<uint8_t>(value >> 8);
  cdb[at + 1] = static_cast<uint8_t>(value);
}

bool SendNoData(TAtapiImp& atapi, DriveIndex index, const Cdb& cdb) {
  return SendAtapiCommand(atapi, index, cdb.data(), nullptr, 0, kDirNone);
}

// The transport takes one buffer pointer for both directions; data going out is only read.
bool SendDataOut(TAtapiImp& atapi, DriveIndex index, const Cdb& cdb, const uint8_t* data, uint16_t length) {
  return SendAtapiCommand(atapi, index, cdb.data(), const_cast<uint8_t*>(data), length, kDirOut);
}

bool SendDataIn(TAtapiImp& atapi, DriveIndex index, const Cdb& cdb, uint8_t* buffer, uint16_t length) {
  return SendAtapiCommand(atapi, index, cdb.data(), buffer, length, kDirIn);
}

// The INQUIRY reply, or nothing when the command failed.
std::vector<uint8_t> Inquiry(TAtapiImp& atapi, DriveIndex index) {
  std::vector<uint8_t> reply(kInquiryLength);
  if (!SendDataIn(atapi, index, kInquiry, reply.data(), kInquiryLength)) return {};
  return reply;
}

std::string InquiryText(TAtapiImp& atapi, DriveIndex index, std::size_t from, std::size_t count) {
  const std::vector<uint8_t> reply = Inquiry(atapi, index);
  return reply.empty() ? std::string() : IdentityText(&reply[from], count);
}

bool HasVendorSignature(const uint8_t* reply) { return reply[0] == 'O' && reply[1] == 'R'; }

bool IsNoDisc(const TAtapiImp& atapi) {
  uint8_t sense[18];
  const uint8_t key = atapi.GetSenseData(sense) & 0x0F;
  return key == 2 && sense[12] == 0x3A;
}

// Media status byte of the media event; a failed command reads as all bits clear.
uint8_t MediaStatus(TAtapiImp& atapi, DriveIndex index, const Cdb& cdb) {
  uint8_t reply[kEventStatusLength];
  SendDataIn(atapi, index, cdb, reply, kEventStatusLength);
  return reply[5];
}

}  // namespace

bool IsDriveIndexValid(const TAtapiImp& atapi, DriveIndex index) { return index < atapi.driveCount; }

bool SendAtapiCommand(TAtapiImp& atapi, DriveIndex index, const uint8_t* cdb, uint8_t* buffer, uint16_t length,
                      uint8_t direction) {
  // Bytes a command does not transfer can still hold an earlier reply, and an
  // unsent command must not leave one behind either.
  if (direction == kDirIn && buffer != nullptr) std::memset(buffer, 0, length);
  if (!IsDriveIndexValid(atapi, index)) return false;
  if (index != atapi.currentDrive) {
    atapi.SelectDrive(index);
    atapi.currentDrive = index;
  }
  return atapi.ExecuteCommand(cdb, buffer, length, direction) == kStatusGood;
}

bool TestUnitReady(TAtapiImp& atapi, DriveIndex index) { return SendNoData(atapi, index, kTestUnitReady); }

namespace {

// Esc in a ready wait ends the program there, the drive given back first.
[[noreturn]] void EndOnEscape(TAtapiImp& atapi, DriveIndex index, ConsoleKeyMode& keys) {
  PreventMediumRemoval(atapi, index, 0);
  keys.Restore();
  atapi.ReleaseDrive();
  if (!atapi.userAbortNotice.empty()) std::fprintf(stderr, "%s\n", atapi.userAbortNotice.c_str());
  // The wait may run on a worker thread while the window thread goes on:
  // flush what was written, but tear down no statics under its feet.
  std::fflush(nullptr);
  std::_Exit(atapi.userAbortExitCode);
}

}  // namespace

bool WaitDriveReady(TAtapiImp& atapi, DriveIndex index, int timeoutSeconds) {
  // A drive that is not there would otherwise be polled for the whole time-out.
  if (!IsDriveIndexValid(atapi, index)) return false;
  Clock& clock = atapi.clock();
  const Clock::Milliseconds start = clock.Now();
  const Clock::Milliseconds limit = std::chrono::seconds(timeoutSeconds);
  ConsoleKeyMode keys(atapi.escapeEndsWaits ? STDIN_FILENO : -1);  // one Esc is enough, no Enter needed
  for (;;) {
    if (TestUnitReady(atapi, index)) return true;
    if (atapi.escapeEndsWaits && ConsoleEscapePressed()) {
      // While a drive is written, leaving the wait could leave it half-written (between the
      // two passes of a kernel flash, or before a retry): Esc is then held as a stop signal is.
      if (!WritePhaseActive()) EndOnEscape(atapi, index, keys);
      HoldStop(kEscapeKeyStop);
    }
    if (clock.Now() - start > limit) {
      PreventMediumRemoval(atapi, index, 0);
      return false;
    }
    if (IsNoDisc(atapi)) return true;
    clock.Sleep(std::chrono::milliseconds(200));
  }
}

bool RequestSense(TAtapiImp& atapi, DriveIndex index, uint8_t* sense18, uint8_t upperHalf, uint8_t finish) {
  Cdb cdb = kRequestSense;
  if (upperHalf == 1) cdb[3] = 0x10;
  if (finish == 1) cdb[5] = 0x80;
  return SendDataIn(atapi, index, cdb, sense18, 18);
}

std::string ReadHardwareId(TAtapiImp& atapi, DriveIndex index) {
  std::vector<uint8_t> reply(kVendorIdentityLength);
  SendDataIn(atapi, index, kVendorIdentity, reply.data(), kVendorIdentityLength);
  if (std::memcmp(reply.data(), "ORVA", 4) == 0) return IdentityText(&reply[18], 2);
  return InquiryText(atapi, index, 38, 2);
}

std::string ReadModelName(TAtapiImp& atapi, DriveIndex index) { return InquiryText(atapi, index, 8, 24); }

std::string ReadFirmwareVersion(TAtapiImp& atapi, DriveIndex index) { return InquiryText(atapi, index, 32, 4); }

std::string ReadInquiryExtension(TAtapiImp& atapi, DriveIndex index) { return InquiryText(atapi, index, 40, 6); }

bool QueryDriveCapability(TAtapiImp& atapi, DriveIndex index, uint8_t* reply8, int capability) {
  if (capability < 0 || capability > 13) return false;
  SendDataIn(atapi, index, kCapability, reply8, kCapabilityLength);
  if (!HasVendorSignature(reply8)) return false;
  if (capability == 0) return true;
  if (capability <= 8) return (reply8[5] >> (capability - 1)) & 1;
  if (capability <= 12) return (reply8[6] >> (capability - 9)) & 1;
  return (reply8[6] >> 6) & 1;
}

bool ReadFirmwareChecksum(TAtapiImp& atapi, DriveIndex index, uint8_t* reply8) {
  SendDataIn(atapi, index, kReadChecksum, reply8, kCapabilityLength);
  return HasVendorSignature(reply8) && reply8[2] >= 5;
}

bool SetFirmwareChecksum(TAtapiImp& atapi, DriveIndex index, uint16_t headerValue, uint16_t checksum) {
  Cdb cdb = kSetChecksum;
  PutBigEndian16(cdb, 7, headerValue);
  PutBigEndian16(cdb, 9, checksum);
  return SendNoData(atapi, index, cdb);
}

bool PreventMediumRemoval(TAtapiImp& atapi, DriveIndex index, uint8_t prevent) {
  Cdb cdb = kPreventRemoval;
  cdb[4] = prevent;
  return SendNoData(atapi, index, cdb);
}

bool SendFirmwareBlock(TAtapiImp& atapi, DriveIndex index, const uint8_t* block16k, uint8_t blockIndex,
                       uint8_t blockCount, uint16_t valueA, uint16_t valueB) {
  Cdb cdb = kFirmwareBlock;
  // The drive expects these two values least significant byte first, twice.
  const uint8_t values[4] = {static_cast<uint8_t>(valueA), static_cast<uint8_t>(valueA >> 8),
                             static_cast<uint8_t>(valueB), static_cast<uint8_t>(valueB >> 8)};
  std::memcpy(&cdb[1], values, 4);
  std::memcpy(&cdb[7], values, 4);
  cdb[5] = blockIndex;
  cdb[11] = blockCount;
  return SendDataOut(atapi, index, cdb, block16k, kFirmwareBlockLength);
}

bool LoadTray(TAtapiImp& atapi, DriveIndex index) { return SendNoData(atapi, index, kLoadTray); }

bool EjectTray(TAtapiImp& atapi, DriveIndex index) { return SendNoData(atapi, index, kEjectTray); }

bool IsTrayOpen(TAtapiImp& atapi, DriveIndex index) { return MediaStatus(atapi, index, kTrayStatus) & 0x01; }

bool IsMediumPresent(TAtapiImp& atapi, DriveIndex index) {
  return MediaStatus(atapi, index, kMediumStatus) & 0x02;
}

bool ReadRomData(TAtapiImp& atapi, DriveIndex index, uint8_t* buffer, uint16_t address, uint8_t bank,
                 uint16_t length) {
  Cdb cdb = kReadRom;
  PutBigEndian16(cdb, 6, address);
  cdb[9] = bank;
  PutBigEndian16(cdb, 10, length);
  return SendDataIn(atapi, index, cdb, buffer, length);
}

bool ReadKernelInfo(TAtapiImp& atapi, DriveIndex index, uint8_t* buffer65535) {
  return SendDataIn(atapi, index, kKernelInfo, buffer65535, kKernelInfoLength);
}

bool WriteFlashBuffer(TAtapiImp& atapi, DriveIndex index, const uint8_t* data, uint16_t length, uint8_t bank,
                      uint16_t offset) {
  Cdb cdb = kWriteFlashBuffer;
  cdb[3] = bank;
  PutBigEndian16(cdb, 4, offset);
  PutBigEndian16(cdb, 7, length);
  return SendDataOut(atapi, index, cdb, data, length);
}

bool TriggerFlash(TAtapiImp& atapi, DriveIndex index, uint8_t upperHalf) {
  Cdb cdb = kTriggerFlash;
  if (upperHalf == 1) cdb[3] = 0x10;
  return SendNoData(atapi, index, cdb);
}

bool SetDownloadMode(TAtapiImp& atapi, DriveIndex index, uint8_t on) {
  Cdb cdb = kDownloadMode;
  cdb[2] = on;
  return SendNoData(atapi, index, cdb);
}

std::string DriveLineOf(const std::string& model, const std::string& version, const std::string& extension) {
  return ShownIdentity(model + ' ' + version + ' ' + extension);
}

std::string BuildDriveLine(TAtapiImp& atapi, DriveIndex index, bool withExtension) {
  const std::string model = ReadModelName(atapi, index);
  const bool extended = withExtension && model.compare(0, 7, "PIONEER") != 0;
  return DriveLineOf(model, ReadFirmwareVersion(atapi, index), extended ? ReadInquiryExtension(atapi, index) : "");
}

}  // namespace ofs
