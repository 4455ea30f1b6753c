#include "flash/Verify.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "flash/FlashSteps.h"

namespace ofs {
namespace {

constexpr uint32_t kCompareStep = 256;
constexpr uint32_t kChecksumCapability = 11;
// ReadRomData names the bank with one byte.
constexpr uint64_t kReadBackReach = 256 * uint64_t{kBankSize};
constexpr char kVerifyError[] = "Flash Verify Error!";
constexpr char kErrorCaption[] = "Error";

uint32_t ReadBackLength(const FlashContext& ctx) {
  return static_cast<uint32_t>(CeilDiv(ctx.imageLength, kCompareStep) * kCompareStep);
}

// Moves the bar one piece further, starting over once it is full.
void AdvanceBar(MainView& view, int step) {
  view.SetProgress(view.Progress() == kProgressMax ? step : view.Progress() + step);
}

bool VerifyByChecksum(FlashContext& ctx, DriveIndex drive) {
  ctx.view.Pump();
  ctx.view.PostStatusLine("Getting CheckSum from drive !");
  std::array<uint8_t, 256> reply{};
  if (!ReadFirmwareChecksum(ctx.atapi, drive, reply.data())) {
    ctx.view.ShowMessage(ctx.updaterMode ? kVerifyError : "Get Checksum Error!", kErrorCaption);
    return false;
  }
  if (reply[6] * 256 + reply[7] != ctx.imageChecksum) {
    ctx.view.ShowMessage(kVerifyError, kErrorCaption);
    return false;
  }
  ctx.view.Pump();
  ctx.view.PostStatusLine("Verification finished");
  return true;
}

// Zeroes the reserved blocks in a copy, as far as they lie inside it.
void BlankReservedBlocks(const SOFSParameter& parameter, std::vector<uint8_t>& copy) {
  for (const SOFSReserveBlock& block : parameter.ReservedBlocks) {
    if (block.Address >= copy.size()) continue;
    const uint64_t end = std::min<uint64_t>(uint64_t{block.Address} + block.Length, copy.size());
    std::fill(copy.begin() + block.Address, copy.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{0});
  }
}

// Compares step by step, moving the bar as a byte-wise comparison would.
bool CompareWithImage(FlashContext& ctx, const std::vector<uint8_t>& readBack) {
  // Reserved blocks hold per-drive data: they are left out on both sides.
  std::vector<uint8_t> expected(ctx.imageBuffer, ctx.imageBuffer + ctx.imageLength);
  BlankReservedBlocks(ctx.imageParameter, expected);
  for (uint32_t start = 0; start < ctx.imageLength; start += kCompareStep) {
    const uint32_t end = std::min(start + kCompareStep, ctx.imageLength);
    ctx.view.Pump();
    if (ctx.view.Progress() == kProgressMax) ctx.view.SetProgress(0);
    const auto diff = std::mismatch(expected.begin() + start, expected.begin() + end, readBack.begin() + start);
    const auto stop = static_cast<uint32_t>(diff.first - expected.begin());
    // A byte-wise loop moves the bar at the last byte of a whole step, before comparing it.
    if (end - start == kCompareStep && stop >= end - 1)
      ctx.view.SetProgress(ctx.view.Progress() + static_cast<int>(kCompareStep));
    if (stop < end) return false;
  }
  return true;
}

bool VerifyByReadBack(FlashContext& ctx, DriveIndex drive) {
  std::vector<uint8_t> readBack(ReadBackLength(ctx), 0);
  if (!ctx.silent) {
    ctx.view.Pump();
    ctx.view.PostStatusLine("Read ROM Data");
  }
  if (!ReadBackImage(ctx, drive, readBack.data())) {
    ctx.view.ShowMessage(ctx.updaterMode ? kVerifyError : "ReadROM Error!", kErrorCaption);
    return false;
  }
  BlankReservedBlocks(ctx.imageParameter, readBack);
  ctx.view.SetProgress(0);
  if (!ctx.silent) {
    ctx.view.Pump();
    ctx.view.PostStatusLine("Checksum verifying");
  }
  if (!CompareWithImage(ctx, readBack)) {
    ctx.view.ShowMessage(kVerifyError, kErrorCaption);
    return false;
  }
  if (!ctx.silent) {
    ctx.view.Pump();
    ctx.view.PostStatusLine("Verification finished");
  }
  return true;
}

}  // namespace

bool VerifyFlash(FlashContext& ctx, DriveIndex drive) {
  std::array<uint8_t, 256> capability{};
  if (QueryDriveCapability(ctx.atapi, drive, capability.data(), kChecksumCapability))
    return VerifyByChecksum(ctx, drive);
  return VerifyByReadBack(ctx, drive);
}

FlashResult CheckVerifiable(FlashContext& ctx, DriveIndex drive) {
  if (ReadBackLength(ctx) <= kReadBackReach) return std::nullopt;
  std::array<uint8_t, 256> capability{};
  if (QueryDriveCapability(ctx.atapi, drive, capability.data(), kChecksumCapability)) return std::nullopt;
  return "This image is larger than 16 MiB and the drive cannot report its checksum, so the flash could not "
         "be verified: flash it without verification. Nothing was written to the drive.";
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
