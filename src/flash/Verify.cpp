#include "flash/Verify.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <vector>

#include "flash/FlashSteps.h"

namespace ofs {
namespace {

constexpr uint32_t kCompareStep = 256;
constexpr uint32_t kChecksumCapability = 11;
// ReadRomData names the bank with one byte.
constexpr uint64_t kReadBackReach = 256 * uint64_t{kBankSize};
constexpr char kVerifyError[] = "Flash Verify Error!";

uint32_t ReadBackLength(const FlashContext& ctx) {
  return static_cast<uint32_t>(CeilDiv(ctx.imageLength, kCompareStep) * kCompareStep);
}

// Moves the bar one piece further, starting over once it is full.
void AdvanceBar(MainView& view, int step) {
  view.SetProgress(view.Progress() == kProgressMax ? step : view.Progress() + step);
}

bool ReportsChecksum(FlashContext& ctx, DriveIndex drive) {
  std::array<uint8_t, 256> capability{};
  return QueryDriveCapability(ctx.atapi, drive, capability.data(), kChecksumCapability);
}

bool WithinReadBackReach(const FlashContext& ctx) { return ReadBackLength(ctx) <= kReadBackReach; }

// The checksum the drive reports of its flash, or nothing when it does not answer.
std::optional<uint16_t> DriveChecksum(FlashContext& ctx, DriveIndex drive) {
  std::array<uint8_t, 256> reply{};
  if (!ReadFirmwareChecksum(ctx.atapi, drive, reply.data())) return std::nullopt;
  return static_cast<uint16_t>(reply[6] * 256 + reply[7]);
}

FlashResult VerifyByChecksum(FlashContext& ctx, DriveIndex drive) {
  ctx.view.Pump();
  ctx.view.PostStatusLine("Getting CheckSum from drive !");
  const std::optional<uint16_t> reported = DriveChecksum(ctx, drive);
  if (!reported) return ctx.updaterMode ? kVerifyError : "Get Checksum Error!";
  if (*reported != ctx.imageChecksum) return kVerifyError;
  ctx.view.Pump();
  ctx.view.PostStatusLine("Verification finished");
  return std::nullopt;
}

// Zeroes the reserved blocks in a copy, as far as they lie inside it.
void BlankReservedBlocks(const SOFSParameter& parameter, std::vector<uint8_t>& copy) {
  for (const SOFSReserveBlock& block : parameter.ReservedBlocks) {
    if (block.Address >= copy.size()) continue;
    const uint64_t end = std::min<uint64_t>(uint64_t{block.Address} + block.Length, copy.size());
    std::fill(copy.begin() + block.Address, copy.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{0});
  }
}

// The image as the drive's flash is compared with it: reserved blocks hold per-drive
// data, so they are left out on both sides.
std::vector<uint8_t> ComparableImage(const FlashContext& ctx) {
  std::vector<uint8_t> expected(ctx.imageBuffer, ctx.imageBuffer + ctx.imageLength);
  BlankReservedBlocks(ctx.imageParameter, expected);
  return expected;
}

// The drive's flash over the image, its reserved blocks blanked; empty when it cannot be read.
std::vector<uint8_t> ReadComparableFlash(FlashContext& ctx, DriveIndex drive) {
  std::vector<uint8_t> readBack(ReadBackLength(ctx), 0);
  if (!ReadBackImage(ctx, drive, readBack.data())) return {};
  BlankReservedBlocks(ctx.imageParameter, readBack);
  return readBack;
}

// The address of the first byte that differs (imageLength: none), compared step by
// step with the bar moving as a byte-wise comparison would move it.
uint32_t FirstDifference(FlashContext& ctx, const std::vector<uint8_t>& expected,
                         const std::vector<uint8_t>& readBack) {
  for (uint32_t start = 0; start < ctx.imageLength; start += kCompareStep) {
    const uint32_t end = std::min(start + kCompareStep, ctx.imageLength);
    ctx.view.Pump();
    if (ctx.view.Progress() == kProgressMax) ctx.view.SetProgress(0);
    const auto diff = std::mismatch(expected.begin() + start, expected.begin() + end, readBack.begin() + start);
    const auto stop = static_cast<uint32_t>(diff.first - expected.begin());
    // A byte-wise loop moves the bar at the last byte of a whole step, before comparing it.
    if (end - start == kCompareStep && stop >= end - 1)
      ctx.view.SetProgress(ctx.view.Progress() + static_cast<int>(kCompareStep));
    if (stop < end) return stop;
  }
  return ctx.imageLength;
}

FlashResult VerifyByReadBack(FlashContext& ctx, DriveIndex drive) {
  if (!ctx.silent) {
    ctx.view.Pump();
    ctx.view.PostStatusLine("Read ROM Data");
  }
  const std::vector<uint8_t> readBack = ReadComparableFlash(ctx, drive);
  if (readBack.empty()) return ctx.updaterMode ? kVerifyError : "ReadROM Error!";
  ctx.view.SetProgress(0);
  if (!ctx.silent) {
    ctx.view.Pump();
    ctx.view.PostStatusLine("Checksum verifying");
  }
  if (FirstDifference(ctx, ComparableImage(ctx), readBack) < ctx.imageLength) return kVerifyError;
  if (!ctx.silent) {
    ctx.view.Pump();
    ctx.view.PostStatusLine("Verification finished");
  }
  return std::nullopt;
}

}  // namespace

FlashResult VerifyFlash(FlashContext& ctx, DriveIndex drive) {
  if (ReportsChecksum(ctx, drive)) return VerifyByChecksum(ctx, drive);
  return VerifyByReadBack(ctx, drive);
}

FlashCheck CheckFlash(FlashContext& ctx, DriveIndex drive) {
  FlashCheck check;
  check.byChecksum = ReportsChecksum(ctx, drive);
  if (check.byChecksum) {
    const std::optional<uint16_t> reported = DriveChecksum(ctx, drive);
    if (!reported) return check;
    check.driveChecksum = *reported;
    check.outcome = *reported == ctx.imageChecksum ? FlashCheck::Outcome::Matches : FlashCheck::Outcome::Differs;
    return check;
  }
  if (!WithinReadBackReach(ctx)) {
    check.outcome = FlashCheck::Outcome::BeyondReadBack;
    return check;
  }
  const std::vector<uint8_t> readBack = ReadComparableFlash(ctx, drive);
  if (readBack.empty()) return check;
  ctx.view.SetProgress(0);
  const std::vector<uint8_t> expected = ComparableImage(ctx);
  check.firstDifference = FirstDifference(ctx, expected, readBack);
  check.differingBytes = static_cast<uint32_t>(std::inner_product(
      expected.begin() + check.firstDifference, expected.end(), readBack.begin() + check.firstDifference, uint32_t{0},
      std::plus<>(), std::not_equal_to<>()));
  check.outcome = check.differingBytes == 0 ? FlashCheck::Outcome::Matches : FlashCheck::Outcome::Differs;
  return check;
}

FlashResult CheckVerifiable(FlashContext& ctx, DriveIndex drive) {
  if (WithinReadBackReach(ctx)) return std::nullopt;
  if (ReportsChecksum(ctx, drive)) return std::nullopt;
  return "This image is larger than 16 MiB and the drive cannot report its checksum, so the flash could not "
         "be verified: flash it without verification.";
}

bool ReadBackImage(FlashContext& ctx, DriveIndex drive, uint8_t* destination) {
  const uint32_t total = ReadBackLength(ctx);
  const uint32_t piece = total / kBankSize < 32 ? 256 : 4096;
  const auto banks = static_cast<uint32_t>(CeilDiv(total, kBankSize));
  // Past bank 255 the read would wrap and compare the wrong flash.
  if (total > kReadBackReach) return false;
  std::vector<uint8_t> reply(piece);
  for (uint32_t bank = 0; bank < banks; ++bank) {
    const uint32_t bankLength = std::min(total - bank * kBankSize, kBankSize);
    for (uint32_t offset = 0; offset < bankLength; offset += piece) {
      ctx.view.Pump();
      AdvanceBar(ctx.view, static_cast<int>(piece));
      // The last piece may reach past the destination: read it aside.
      std::fill(reply.begin(), reply.end(), uint8_t{0});
      if (!ReadRomData(ctx.atapi, drive, reply.data(), static_cast<uint16_t>(offset), static_cast<uint8_t>(bank),
                       static_cast<uint16_t>(piece)))
        return false;
      const uint32_t fits = std::min(piece, bankLength - offset);
      std::memcpy(destination + uint64_t{bank} * kBankSize + offset, reply.data(), fits);
    }
  }
  return true;
}

}  // namespace ofs
