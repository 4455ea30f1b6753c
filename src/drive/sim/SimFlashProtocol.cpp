// The flash protocol side of the simulated drive: every way a host hands it a
// firmware image, and the commits that start programming.
#include <algorithm>
#include <numeric>

#include "drive/sim/SimReply.h"
#include "drive/sim/SimulatedDrive.h"

namespace ofs {

using namespace sim;

namespace {
constexpr uint32_t kBlockSize = 16384;
// The families of the 5A..A0 data command, and the commit sub-function each one uses.
constexpr int kPolledFamily = 4;
constexpr std::initializer_list<int> kFlashDataFamilies{1, 3, 4, 5, 7};
constexpr int kKernelFamily = 6;
constexpr int kBlockSumFamily = 2;
}  // namespace

bool SimulatedDrive::FamilyStated() const {
  return settings_.flashFamily && *settings_.flashFamily != kSimAnyFamily;
}

bool SimulatedDrive::FamilyIs(int family) const { return FamilyStated() && *settings_.flashFamily == family; }

bool SimulatedDrive::Speaks(std::initializer_list<int> families) const {
  return !FamilyStated() || std::find(families.begin(), families.end(), *settings_.flashFamily) != families.end();
}

// Flash types without a procedure of their own write two banks with WRITE BUFFER.
bool SimulatedDrive::SpeaksTwoBanks() const {
  if (!FamilyStated()) return true;
  const int family = *settings_.flashFamily;
  return family != kSimPhilipsFamily && family != kKernelFamily && family != kBlockSumFamily &&
         std::find(kFlashDataFamilies.begin(), kFlashDataFamilies.end(), family) == kFlashDataFamilies.end();
}

SimulatedDrive::Reply SimulatedDrive::Refuse(const SimSense& sense) {
  NewSession();
  return {kStatusCheckCondition, MakeSense(sense)};
}

void SimulatedDrive::NewSession() {
  programmer_.ClearSession();
  halfBankSession_ = false;
  blocksReceived_ = 0;
}

void SimulatedDrive::StartProgramming(bool kernel) {
  programmer_.Start(kernel, Now(), Clock::Milliseconds{settings_.programmingMs});
  NewSession();
  awaitingFinish_ = false;
  unitAttention_ = false;
  Programming();
}

SimulatedDrive::Reply SimulatedDrive::FlashData(const Command& c) {
  if (!Speaks(kFlashDataFamilies)) return Refuse(kInvalidField);
  const uint32_t bank = c.cdb[7];
  const uint32_t value = Be16(c.cdb + 8);
  // From 32 banks on, the commit's bank-count code wraps below E0h; only the
  // download received so far tells it from bank data.
  const int banks = programmer_.SessionBankCount();
  if (banks >= 32 && bank == static_cast<uint8_t>(0xE0 + banks) && value == 128 && c.length == 128)
    return FlashCommit(c);
  // Data carries no checksum, and the drive's flash takes whole 16-bit words.
  if (c.direction != kDirOut || (TailKnown(c.cdb) && Be16(c.cdb + 10) != 0) || c.length % 2 != 0)
    return Refuse(kInvalidField);
  // Bytes 8-9 equal to the transfer length mean a whole bank from its start; any
  // other value is an offset in the bank, and so is every value once a download
  // has used offsets (the second half bank carries 8000h with 32768 bytes).
  // Every download starts at bank 0, offset 0 (8000h with 32768 bytes stays ambiguous
  // and is decided by the session).
  if (bank == 0 && (value == 0 || (value == c.length && value != 0x8000))) NewSession();
  const bool offsetForm = value != c.length || halfBankSession_;
  const uint32_t offset = offsetForm ? value : 0;
  if (offset + c.length > kSimBankSize) return Refuse(kInvalidField);
  if (!programmer_.Store(uint64_t{bank} * kSimBankSize + offset, c.buffer, c.length)) return Refuse(kOutOfRange);
  halfBankSession_ = offsetForm;
  return {};
}

SimulatedDrive::Reply SimulatedDrive::FlashCommit(const Command& c) {
  const int subFunction = c.cdb[6];
  const bool ownSubFunction = FamilyIs(kPolledFamily) ? subFunction == 5 : subFunction == 4;
  if (!Speaks(kFlashDataFamilies) || (FamilyStated() && !ownSubFunction)) return Refuse(kInvalidField);
  const auto countCode = static_cast<uint8_t>(0xE0 + programmer_.SessionBankCount());
  const bool valid = c.direction == kDirOut && c.length == 128 && Be16(c.cdb + 8) == 128 &&
                     c.cdb[7] == countCode && programmer_.SessionHasBank(0) &&
                     programmer_.DownloadEquals(0, c.buffer, 128);
  if (!valid) return Refuse(kInvalidParameter);
  // Bytes 10-11 carry the 16-bit sum of the download; a drive that sums it differently programs nothing.
  const uint32_t downloaded = static_cast<uint32_t>(programmer_.SessionEndBank()) * kSimBankSize;
  if (TailKnown(c.cdb) && (programmer_.DownloadSum(0, downloaded) & 0xFFFF) != Be16(c.cdb + 10))
    return Refuse(kInvalidField);
  StartProgramming(false);
  return {};
}

SimulatedDrive::Reply SimulatedDrive::BlockSum(const Command& c) {
  if (!Speaks({kBlockSumFamily})) return Refuse(kInvalidField);
  if (c.direction != kDirOut || c.length != kBlockSize) return Refuse(kInvalidField);
  // Without bytes 10-11 each block is the next one, and the last is the one that
  // completes the total sum.
  const bool tailKnown = TailKnown(c.cdb);
  const uint8_t number = tailKnown ? c.cdb[10] : static_cast<uint8_t>(blocksReceived_ + 1);
  const uint8_t count = c.cdb[11];
  // Block numbers wrap at 256: a block 1 after a multiple of 256 blocks of a download of the
  // same count is the next one of it.
  const bool wrapped = blocksReceived_ > 0 && blocksReceived_ % 256 == 0 && count == blockCount_;
  if (number == 1 && !wrapped) NewSession();
  blockCount_ = count;
  if (number != static_cast<uint8_t>(blocksReceived_ + 1)) return Refuse(kSequenceError);
  const uint32_t blockSum = std::accumulate(c.buffer, c.buffer + c.length, uint32_t{0});
  if ((blockSum & 0xFFFF) != Be16(c.cdb + 6)) return Refuse(kInvalidParameter);
  const uint64_t offset = uint64_t{static_cast<uint32_t>(blocksReceived_)} * kBlockSize;
  if (!programmer_.Store(offset, c.buffer, c.length)) return Refuse(kOutOfRange);
  ++blocksReceived_;
  if (tailKnown && number != count) return {};
  const uint32_t received = static_cast<uint32_t>(blocksReceived_) * kBlockSize;
  if ((programmer_.DownloadSum(0, received) & 0xFFFF) == Be16(c.cdb + 8)) {
    StartProgramming(false);
    return {};
  }
  if (!tailKnown) return {};
  // Block numbers wrap at 256: a wrong total is final only when no further block fits.
  if (uint64_t{received} + 256ull * kBlockSize <= flash_.size()) return {};
  return Refuse(kInvalidParameter);
}

SimulatedDrive::Reply SimulatedDrive::FirmwareBlock(const Command& c) {
  const bool consistent = c.cdb[6] == 0x01 && std::equal(c.cdb + 1, c.cdb + 5, c.cdb + 7);
  if (!consistent || c.direction != kDirOut || c.length != kBlockSize || !Speaks({kSimPhilipsFamily}))
    return Refuse(kInvalidField);
  const uint8_t index = c.cdb[5];
  const uint8_t count = c.cdb[11];
  // Every block of one download carries the values of its first.
  const std::array<uint8_t, 4> values{c.cdb[1], c.cdb[2], c.cdb[3], c.cdb[4]};
  if (index == 0) {
    NewSession();
    philipsValues_ = values;
  }
  if (philipsValues_ != values) return Refuse(kInvalidField);
  const uint64_t offset = uint64_t{index} * kBlockSize;
  if (offset >= flash_.size()) return Refuse(kOutOfRange);
  // A last block that runs past the flash keeps only what fits.
  const auto stored = static_cast<uint32_t>(std::min<uint64_t>(c.length, flash_.size() - offset));
  programmer_.Store(offset, c.buffer, stored);
  if (index + 1 == count) StartProgramming(false);
  return {};
}

SimulatedDrive::Reply SimulatedDrive::WriteBuffer(const Command& c) {
  const uint32_t length = Be24(c.cdb + 6);
  if (c.direction != kDirOut || length != c.length || length % 2 != 0) return Refuse(kInvalidField);
  // The kernel's boot code takes data only in download mode.
  if (!SpeaksTwoBanks() && !FamilyIs(kKernelFamily)) return Refuse(kInvalidField);
  if (FamilyIs(kKernelFamily) && !downloadMode_) return Refuse(kInvalidField);
  if (!programmer_.Store(Be24(c.cdb + 3), c.buffer, length)) return Refuse(kOutOfRange);
  return {};
}

SimulatedDrive::Reply SimulatedDrive::SaveBanks(const Command& c) {
  // Mode 7 saves a window of the download: 16 banks for the kernel trigger, one
  // bank when the length is 0.
  const uint32_t length = Be24(c.cdb + 6);
  const int first = static_cast<int>(Be24(c.cdb + 3) / kSimBankSize);
  const int banks = length == 0 ? 1 : static_cast<int>((length + kSimBankSize - 1) / kSimBankSize);
  if (length == 0 ? !SpeaksTwoBanks() : !Speaks({kKernelFamily})) return Refuse(kInvalidField);
  if (programmer_.SessionEmpty()) return Refuse(kSequenceError);
  if (programmer_.SessionFirstBank() < first || programmer_.SessionEndBank() > first + banks)
    return Refuse(kInvalidField);
  if (length != 0 && first != 0) upperHalfFlash_ = true;
  StartProgramming(length != 0);
  return {};
}

SimulatedDrive::Reply SimulatedDrive::DownloadMode(const Command& c) {
  if (!Speaks({kKernelFamily})) return Refuse(kInvalidField);
  if (c.cdb[2] == 0x01) NewSession();
  downloadMode_ = c.cdb[2] == 0x01;
  return {};
}

}  // namespace ofs
