#pragma once
// One simulated drive: answers CDBs as a drive's firmware would, keeps its tray,
// medium, lock, download area, flash, boot state and checksum, and programs its
// flash over the time of the Clock it was given.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "drive/Clock.h"
#include "drive/TransportBackend.h"
#include "drive/sim/SimCommand.h"
#include "drive/sim/SimProfile.h"
#include "drive/sim/SimProgrammer.h"

namespace ofs {

class SimulatedDrive {
 public:
  SimulatedDrive(const SimDriveProfile& profile, Clock& clock);
  SimulatedDrive(const SimulatedDrive&) = delete;
  SimulatedDrive& operator=(const SimulatedDrive&) = delete;

  TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                          SenseData& sense);

  // State, as the drive's firmware sees it.
  const std::vector<uint8_t>& Flash() const { return flash_; }
  bool MediumRemovalPrevented() const { return prevented_; }
  bool TrayOpen() const { return trayOpen_; }
  bool MediumPresent() const { return mediumPresent_; }
  bool InBootCode() const { return inBootCode_; }
  // Brings programming up to the clock's time; true while the drive still programs.
  bool Programming();
  std::optional<uint16_t> ExpectedChecksum() const { return expectedChecksum_; }  // last one set by the host
  uint16_t ReportedChecksum() const;
  std::array<uint8_t, 96> InquiryData();
  // The commands that follow run on this clock's time (null: the drive's own clock
  // again): a second transport handle, on its own thread, brings its own time.
  void UseClock(Clock* clock) { clock_ = clock != nullptr ? clock : &ownClock_; }

  // Every CDB received, in order, and counts by kind and by opcode.
  const std::vector<std::array<uint8_t, 12>>& CommandLog() const { return log_; }
  int CommandCount(SimCommand command) const { return byKind_[static_cast<std::size_t>(command)]; }
  int OpcodeCount(uint8_t opcode) const { return byOpcode_[opcode]; }

  // The drive's settings and faults; changes apply from the next command on.
  SimDriveProfile& Settings() { return settings_; }
  // An injected failure took the drive off the system.
  bool Gone() const { return gone_; }
  void AddFailure(const SimFailure& failure);
  void SetTrayOpen(bool open) { trayOpen_ = open; }
  void SetMediumPresent(bool present) { mediumPresent_ = present; }

 private:
  struct Reply {
    TransportStatus status = kStatusGood;
    SenseData sense{};
  };
  struct Command {
    const uint8_t* cdb;
    uint8_t* buffer;
    uint32_t length;
    uint8_t direction;
  };

  Reply Dispatch(SimCommand kind, const Command& c);
  bool InjectedFailure(const uint8_t* cdb, SimCommand kind, Reply& reply);
  void RaiseSignals(const uint8_t* cdb, SimCommand kind);
  // The condition TEST UNIT READY and REQUEST SENSE report; consumes a unit attention.
  SenseData Condition();
  SenseData FinishedSense() const;
  // The clock's time, never earlier than a time the drive has already seen.
  Clock::Milliseconds Now();
  void OnCommit(const SimProgramRun& run);
  void SaveFlash() const;  // to the profile's flash file, when it names one
  std::string KernelEndFile() const;
  std::size_t SavedKernelImageEnd() const;
  const std::vector<std::size_t>& Templates();

  // Standard commands.
  Reply TestUnitReady();
  Reply RequestSense(const Command& c);
  Reply Inquiry(const Command& c);
  Reply LoadTray();
  Reply EjectTray();
  Reply EventStatus(const Command& c);
  // Vendor queries.
  Reply IdentityQuery(const Command& c);
  Reply CapabilityQuery(const Command& c);
  Reply ChecksumRead(const Command& c);
  Reply ChecksumSet(const Command& c);
  Reply ReadRom(const Command& c);
  Reply KernelInfo(const Command& c);
  // Flash protocol.
  Reply FlashData(const Command& c);
  Reply FlashCommit(const Command& c);
  Reply BlockSum(const Command& c);
  Reply FirmwareBlock(const Command& c);
  Reply WriteBuffer(const Command& c);
  Reply SaveBanks(const Command& c);
  Reply DownloadMode(const Command& c);
  Reply Refuse(const SimSense& sense);  // ends the download session too
  // True when the drive's flash family is one of these (a drive of no stated family speaks all).
  bool Speaks(std::initializer_list<int> families) const;
  bool SpeaksTwoBanks() const;
  bool TailKnown(const uint8_t* cdb) const;  // bytes 10-11 reached the drive
  bool FamilyStated() const;  // a profile or a firmware named the family
  bool FamilyIs(int family) const;
  void AcknowledgeFinish();
  void NewSession();
  void StartProgramming(bool kernel);

  SimDriveProfile settings_;
  bool gone_ = false;
  Clock& ownClock_;
  Clock* clock_;
  Clock::Milliseconds seen_{0};
  std::vector<uint8_t> flash_;
  SimProgrammer programmer_;
  SimProgress progress_;
  std::optional<std::vector<std::size_t>> templates_;  // cached until the flash changes
  bool trayOpen_;
  bool mediumPresent_;
  bool prevented_ = false;
  bool inBootCode_ = false;
  bool awaitingFinish_ = false;  // kernel programming ended, host not yet told
  int finishedBank_ = 0;
  bool unitAttention_ = false;   // the drive restarted after programming
  bool halfBankSession_ = false;
  bool downloadMode_ = false;
  bool upperHalfFlash_ = false;  // a two-pass kernel flash: every REQUEST SENSE carries the flag
  std::optional<std::array<uint8_t, 4>> philipsValues_;  // of the download's first block
  int blocksReceived_ = 0;
  uint8_t blockCount_ = 0;  // the count byte of the block-sum download in progress
  // End of the image the last kernel flash programmed (0: none since the drive started, or
  // another flash since): the drive's checksum covers the flash below it, without the
  // last 8 bytes, which carry the image's own checksum.
  std::size_t kernelImageEnd_ = 0;
  std::optional<uint16_t> expectedChecksum_;
  std::vector<int> failureUses_;
  std::vector<int> raiseUses_;
  std::vector<std::array<uint8_t, 12>> log_;
  std::array<int, kSimCommandCount> byKind_{};
  std::array<int, 256> byOpcode_{};
};

}  // namespace ofs
