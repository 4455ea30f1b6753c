#include "drive/sim/SimulatedDrive.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "drive/sim/SimFirmware.h"
#include "drive/sim/SimReply.h"
#include "firmware/Firmware.h"

namespace ofs {

using namespace sim;

namespace {
constexpr uint32_t kMinCommandMs = 1;
constexpr std::size_t kKernelTail = 8;  // a kernel image's own checksum, at its end
}  // namespace

SimulatedDrive::SimulatedDrive(const SimDriveProfile& profile, Clock& clock)
    : settings_(profile),
      ownClock_(clock),
      clock_(&clock),
      flash_(BuildInitialFlash(profile)),
      programmer_(flash_),
      trayOpen_(profile.trayOpen),
      mediumPresent_(profile.mediumPresent) {
  // A flash read from its file is there already; writing it again could undo
  // what another process on the same drive has just programmed.
  std::error_code missing;
  if (!std::filesystem::exists(settings_.flashFile, missing)) {
    SaveFlash();
  } else {
    kernelImageEnd_ = SavedKernelImageEnd();
  }
}

// A drive keeps the extent of the kernel image it programmed as it keeps its flash:
// beside the flash file, so that its checksum is the same in the next process.
std::string SimulatedDrive::KernelEndFile() const { return settings_.flashFile + ".kernel-end"; }

std::size_t SimulatedDrive::SavedKernelImageEnd() const {
  std::size_t end = 0;
  std::ifstream(KernelEndFile()) >> end;
  return end >= kKernelTail && end <= flash_.size() ? end : 0;
}

TransportStatus SimulatedDrive::Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                                        SenseData& sense) {
  sense.fill(0);
  std::array<uint8_t, 12> copy{};
  std::memcpy(copy.data(), cdb, copy.size());
  log_.push_back(copy);
  const SimCommand kind = ClassifyCdb(cdb);
  ++byKind_[static_cast<std::size_t>(kind)];
  ++byOpcode_[cdb[0]];
  // No command is instant: a host that repeats a failing command at once must
  // still reach its time limits on a virtual clock.
  clock_->Sleep(Clock::Milliseconds{std::max(settings_.latencyMs, kMinCommandMs)});
  if (settings_.unplugged || gone_) return kStatusTransportError;
  Programming();
  Reply reply;
  if (!InjectedFailure(cdb, kind, reply)) reply = Dispatch(kind, Command{cdb, buffer, length, direction});
  if (reply.status != kStatusGood) sense = reply.sense;
  RaiseSignals(cdb, kind);
  return reply.status;
}

// After the command has done its work, as a signal that arrives while its reply travels.
void SimulatedDrive::RaiseSignals(const uint8_t* cdb, SimCommand kind) {
  raiseUses_.resize(settings_.raises.size(), 0);
  for (std::size_t i = 0; i < settings_.raises.size(); ++i) {
    const SimSignalRaise& raise = settings_.raises[i];
    if (raise.selector.Matches(cdb, kind) && ++raiseUses_[i] == raise.use) std::raise(raise.signal);
  }
}

Clock::Milliseconds SimulatedDrive::Now() {
  seen_ = std::max(seen_, clock_->Now());
  return seen_;
}

void SimulatedDrive::AddFailure(const SimFailure& failure) { settings_.failures.push_back(failure); }

bool SimulatedDrive::InjectedFailure(const uint8_t* cdb, SimCommand kind, Reply& reply) {
  failureUses_.resize(settings_.failures.size(), 0);
  bool failed = false;
  for (std::size_t i = 0; i < settings_.failures.size(); ++i) {
    const SimFailure& failure = settings_.failures[i];
    if (!failure.selector.Matches(cdb, kind)) continue;
    const int use = ++failureUses_[i];
    const bool active = use >= failure.firstUse && (failure.times == 0 || use < failure.firstUse + failure.times);
    if (!active || failed) continue;
    failed = true;
    gone_ = gone_ || failure.gone;
    reply.status = failure.transportError ? kStatusTransportError : kStatusCheckCondition;
    reply.sense = failure.transportError ? SenseData{} : MakeSense(failure.sense);
  }
  return failed;
}

SimulatedDrive::Reply SimulatedDrive::Dispatch(SimCommand kind, const Command& c) {
  switch (kind) {
    case SimCommand::TestUnitReady: return TestUnitReady();
    case SimCommand::RequestSense: return RequestSense(c);
    case SimCommand::Inquiry: return Inquiry(c);
    case SimCommand::LoadTray: return LoadTray();
    case SimCommand::EjectTray: return EjectTray();
    case SimCommand::StartStop: return {};
    case SimCommand::PreventAllow: prevented_ = (c.cdb[4] & 0x01) != 0; return {};
    case SimCommand::EventStatus: return EventStatus(c);
    case SimCommand::IdentityQuery: return IdentityQuery(c);
    case SimCommand::CapabilityQuery: return CapabilityQuery(c);
    case SimCommand::ChecksumRead: return ChecksumRead(c);
    case SimCommand::ChecksumSet: return ChecksumSet(c);
    case SimCommand::ReadRom: return ReadRom(c);
    case SimCommand::KernelInfo: return KernelInfo(c);
    case SimCommand::FlashData: return FlashData(c);
    case SimCommand::FlashCommit: return FlashCommit(c);
    case SimCommand::BlockSum: return BlockSum(c);
    case SimCommand::FirmwareBlock: return FirmwareBlock(c);
    case SimCommand::WriteBuffer: return WriteBuffer(c);
    case SimCommand::Trigger:
    case SimCommand::BankSave: return SaveBanks(c);
    case SimCommand::DownloadMode: return DownloadMode(c);
    case SimCommand::Unknown: break;
  }
  return {kStatusCheckCondition, MakeSense(kInvalidOpcode)};
}

bool SimulatedDrive::Programming() {
  progress_ = programmer_.Advance(Now(), settings_.neverFinish,
                                  [this](const SimProgramRun& run) { OnCommit(run); });
  return progress_.active;
}

void SimulatedDrive::SaveFlash() const {
  if (settings_.flashFile.empty()) return;
  std::ofstream(settings_.flashFile, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(flash_.data()), static_cast<std::streamsize>(flash_.size()));
  std::error_code ignored;
  if (kernelImageEnd_ == 0) {
    std::filesystem::remove(KernelEndFile(), ignored);
  } else {
    std::ofstream(KernelEndFile(), std::ios::trunc) << kernelImageEnd_ << "\n";
  }
}

void SimulatedDrive::OnCommit(const SimProgramRun& run) {
  templates_.reset();
  expectedChecksum_.reset();
  // The drive restarts into the firmware whose bank 0 it has just programmed.
  if (run.firstBank == 0) {
    inBootCode_ = settings_.stayInBoot > 0;
    if (inBootCode_) --settings_.stayInBoot;
  }
  // Only a kernel image ends in its own checksum. The lower half of a two-pass flash
  // ends below the image's end, which the upper half set.
  const std::size_t end = run.kernel ? std::size_t(run.endBank) * kSimBankSize : 0;
  kernelImageEnd_ = run.kernel && run.firstBank == 0 && upperHalfFlash_ ? std::max(kernelImageEnd_, end) : end;
  SaveFlash();
  if (run.kernel && !programmer_.Busy()) {
    awaitingFinish_ = true;
    finishedBank_ = run.endBank;
  }
}

SenseData SimulatedDrive::FinishedSense() const {
  const auto bank = static_cast<uint8_t>(finishedBank_);
  if (settings_.finishWithUnitAttention) return MakeSense({0x06, 0x29, 0x00}, bank, 0xFFFF);
  return MakeSense({0x02, 0x04, settings_.progressAscq}, bank, 0xFFFF);
}

SenseData SimulatedDrive::Condition() {
  if (progress_.active)
    return MakeSense({0x02, 0x04, settings_.progressAscq}, static_cast<uint8_t>(progress_.bank), progress_.count);
  if (awaitingFinish_) return FinishedSense();
  if (unitAttention_) {
    unitAttention_ = false;
    return MakeSense({0x06, 0x29, 0x00});
  }
  if (settings_.neverReady) return MakeSense({0x02, 0x04, 0x01});
  if (trayOpen_) return MakeSense({0x02, 0x3A, 0x02});
  if (!mediumPresent_) return MakeSense({0x02, 0x3A, 0x01});
  return MakeSense({0x00, 0x00, 0x00});
}

SimulatedDrive::Reply SimulatedDrive::TestUnitReady() {
  // Asked for readiness, the drive stops reporting its finished run and restarts.
  if (awaitingFinish_) AcknowledgeFinish();
  const SenseData condition = Condition();
  if (condition[2] == 0) return {};
  return {kStatusCheckCondition, condition};
}

void SimulatedDrive::AcknowledgeFinish() {
  awaitingFinish_ = false;
  unitAttention_ = true;
  // The lower half ends a two-pass flash.
  if (finishedBank_ <= 16) upperHalfFlash_ = false;
}

SimulatedDrive::Reply SimulatedDrive::RequestSense(const Command& c) {
  // A two-pass flash reports the bank of its half only to requests that name the upper half.
  if (upperHalfFlash_ && (c.cdb[3] & 0x10) == 0) return {kStatusCheckCondition, MakeSense(kInvalidField)};
  SenseData data;
  if (awaitingFinish_) {
    data = FinishedSense();
    if ((c.cdb[5] & 0x80) != 0) AcknowledgeFinish();
  } else {
    data = Condition();
  }
  CopyReply(c.buffer, c.length, c.direction, data.data(), data.size());
  return {};
}

const std::vector<std::size_t>& SimulatedDrive::Templates() {
  if (!templates_) templates_ = FindInquiryTemplates(flash_.data(), flash_.size());
  return *templates_;
}

std::array<uint8_t, 96> SimulatedDrive::InquiryData() {
  Programming();
  return BuildInquiryData(flash_, Templates(), inBootCode_);
}

SimulatedDrive::Reply SimulatedDrive::Inquiry(const Command& c) {
  if ((c.cdb[1] & 0x01) != 0) return {kStatusCheckCondition, MakeSense(kInvalidField)};
  const auto data = InquiryData();
  CopyReply(c.buffer, std::min(c.length, Be16(c.cdb + 3)), c.direction, data.data(), data.size());
  return {};
}

SimulatedDrive::Reply SimulatedDrive::LoadTray() {
  if (settings_.loadTray != SimLoadTray::Fails) trayOpen_ = false;
  if (settings_.loadTray == SimLoadTray::Closes) return {};
  return {kStatusCheckCondition, MakeSense(settings_.loadTraySense)};
}

SimulatedDrive::Reply SimulatedDrive::EjectTray() {
  if (prevented_) return {kStatusCheckCondition, MakeSense(kRemovalPrevented)};
  trayOpen_ = true;
  return {};
}

SimulatedDrive::Reply SimulatedDrive::EventStatus(const Command& c) {
  if ((c.cdb[1] & 0x01) == 0) return {kStatusCheckCondition, MakeSense(kInvalidField)};
  std::array<uint8_t, 8> event{};
  if ((c.cdb[4] & 0x10) != 0) {
    // Media class: the drive senses a disc only on a closed tray.
    event = {0x00, 0x06, 0x04, 0x10, 0x00, 0x00, 0x00, 0x00};
    event[5] = static_cast<uint8_t>((trayOpen_ ? 0x01 : 0x00) | (mediumPresent_ && !trayOpen_ ? 0x02 : 0x00));
  } else {
    event = {0x00, 0x02, 0x80, 0x10, 0x00, 0x00, 0x00, 0x00};  // no event class it supports was asked for
  }
  CopyReply(c.buffer, std::min(c.length, Be16(c.cdb + 7)), c.direction, event.data(), event.size());
  return {};
}

SimulatedDrive::Reply SimulatedDrive::IdentityQuery(const Command& c) {
  if (!settings_.hardwareIdReply) return {kStatusCheckCondition, MakeSense(kInvalidField)};
  std::array<uint8_t, 20> reply{'O', 'R', 'V', 'A'};
  if (settings_.hardwareId.empty()) {
    const auto inquiry = InquiryData();
    reply[18] = inquiry[38];
    reply[19] = inquiry[39];
  } else {
    reply[18] = static_cast<uint8_t>(settings_.hardwareId[0]);
    reply[19] = static_cast<uint8_t>(settings_.hardwareId.size() > 1 ? settings_.hardwareId[1] : ' ');
  }
  CopyReply(c.buffer, c.length, c.direction, reply.data(), reply.size());
  return {};
}

SimulatedDrive::Reply SimulatedDrive::CapabilityQuery(const Command& c) {
  std::array<uint8_t, 8> reply{'O', 'R', 0x06};
  const uint16_t caps = settings_.capabilities;
  for (int n = 1; n <= 8; ++n)
    if ((caps >> n) & 1) reply[5] |= static_cast<uint8_t>(1 << (n - 1));
  for (int n = 9; n <= 12; ++n)
    if ((caps >> n) & 1) reply[6] |= static_cast<uint8_t>(1 << (n - 9));
  if ((caps >> 13) & 1) reply[6] |= 0x40;
  CopyReply(c.buffer, c.length, c.direction, reply.data(), reply.size());
  return {};
}

uint16_t SimulatedDrive::ReportedChecksum() const {
  if (settings_.checksumMode == SimChecksumMode::Fixed) return settings_.fixedChecksum;
  // Computed from the flash it holds, whatever the host handed over. After a kernel flash
  // the drive checks its own programming: it sums the banks that flash programmed, not
  // what an earlier, larger image left above them, and leaves out the image's last
  // 8 bytes, where the image keeps its own checksum.
  const std::size_t end = kernelImageEnd_ > 0 ? kernelImageEnd_ - kKernelTail : flash_.size();
  uint32_t sum = std::accumulate(flash_.begin(), flash_.begin() + static_cast<std::ptrdiff_t>(end), uint32_t{0});
  for (const SOFSReserveBlock& block : settings_.checksumExclude) {
    const std::size_t from = std::min<std::size_t>(block.Address, end);
    const std::size_t to = std::min<std::size_t>(std::size_t{block.Address} + block.Length, end);
    for (std::size_t i = from; i < to; ++i) sum -= flash_[i];
  }
  if (settings_.checksumMode == SimChecksumMode::Wrong) ++sum;
  return static_cast<uint16_t>(sum);
}

SimulatedDrive::Reply SimulatedDrive::ChecksumRead(const Command& c) {
  if (((settings_.capabilities >> 11) & 1) == 0 && ((settings_.capabilities >> 13) & 1) == 0)
    return {kStatusCheckCondition, MakeSense(kInvalidField)};
  const uint16_t checksum = ReportedChecksum();
  const std::array<uint8_t, 8> reply{'O', 'R', 0x06, 0, 0, 0, static_cast<uint8_t>(checksum >> 8),
                                     static_cast<uint8_t>(checksum)};
  CopyReply(c.buffer, c.length, c.direction, reply.data(), reply.size());
  return {};
}

SimulatedDrive::Reply SimulatedDrive::ChecksumSet(const Command& c) {
  if (((settings_.capabilities >> 13) & 1) == 0) return {kStatusCheckCondition, MakeSense(kInvalidField)};
  expectedChecksum_ = static_cast<uint16_t>(Be16(c.cdb + 9));
  return {};
}

bool SimulatedDrive::TailKnown(const uint8_t* cdb) const {
  return !settings_.cdbsCutToGroupLength || GroupCdbLength(cdb[0]) >= 12;
}

SimulatedDrive::Reply SimulatedDrive::ReadRom(const Command& c) {
  const uint64_t offset = uint64_t{c.cdb[9]} * kSimBankSize + Be16(c.cdb + 6);
  // Without bytes 10-11 the transfer length is the length asked for.
  const uint32_t length = TailKnown(c.cdb) ? Be16(c.cdb + 10) : c.length;
  if (offset + length > flash_.size()) return {kStatusCheckCondition, MakeSense(kOutOfRange)};
  Programming();
  CopyReply(c.buffer, std::min(c.length, length), c.direction, flash_.data() + offset, length);
  return {};
}

SimulatedDrive::Reply SimulatedDrive::KernelInfo(const Command& c) {
  const auto banks = static_cast<uint32_t>(flash_.size() / kSimBankSize);
  const std::array<uint8_t, 8> reply{'O', 'R', static_cast<uint8_t>(banks >> 8), static_cast<uint8_t>(banks),
                                     static_cast<uint8_t>(inBootCode_ ? 1 : 0)};
  CopyReply(c.buffer, c.length, c.direction, reply.data(), reply.size());
  return {};
}

}  // namespace ofs
