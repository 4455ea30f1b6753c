// Flash types 1, 3, 5 (bank writes then a ready wait), 4 (bank writes then a
// progress poll) and 7 (half banks then a progress poll).
#include <algorithm>
#include <optional>
#include <vector>

#include "flash/FlashProcedures.h"
#include "flash/FlashSteps.h"

namespace ofs {
namespace {

// The largest bank transfer the drive takes; the length field could say more.
constexpr uint32_t kMaxBankTransfer = 65534;
constexpr uint32_t kHalfBank = kBankSize / 2;

struct BankPiece {
  uint32_t bank;
  uint32_t length;     // even, what the command carries
  uint32_t usedBytes;  // bytes of the bank that belong to the firmware
};

// The banks to send, or nothing when the image cannot be sent as described
// (a bank size beyond one transfer, or more banks than the image holds).
std::optional<std::vector<BankPiece>> PlanBankPieces(const FlashContext& ctx) {
  std::vector<BankPiece> plan;
  if (ctx.imageParameter.MaxBankSize == kBankSize) {
    const auto& sizes = ctx.imageParameter.BankSizes;
    if (sizes.size() > CeilDiv(ctx.imageLength, kBankSize)) return std::nullopt;
    for (uint32_t i = 0; i < sizes.size(); ++i) {
      if (sizes[i] > kMaxBankTransfer) return std::nullopt;
      plan.push_back({i, (sizes[i] + 1) & ~1u, sizes[i]});
    }
    return plan;
  }
  const auto banks = static_cast<uint32_t>(CeilDiv(ctx.imageLength, kBankSize));
  for (uint32_t i = 0; i < banks; ++i) {
    const uint32_t rest = std::min(ctx.imageLength - i * kBankSize, kMaxBankTransfer);
    plan.push_back({i, (rest + 1) & ~1u, rest});
  }
  return plan;
}

// Sends every bank with sub-function 5. With the 64 KiB bank layout an odd
// bank gets its zero pad byte in the image first, inside its own slot.
bool SendBankPieces(FlashContext& ctx, DriveIndex drive, const std::vector<BankPiece>& plan) {
  const bool padInImage = ctx.imageParameter.MaxBankSize == kBankSize;
  std::vector<uint8_t> work(kMaxBankTransfer);
  for (const BankPiece& piece : plan) {
    const uint64_t start = uint64_t{piece.bank} * kBankSize;
    const uint64_t pad = start + piece.usedBytes;
    if (padInImage && piece.usedBytes < kBankSize && pad < ctx.imageLength) ctx.imageBuffer[pad] = 0;
    CopyImageSlice(ctx, start, work.data(), piece.length);
    if (!SendFlashDataCommand(ctx, drive, 5, static_cast<uint8_t>(piece.bank), static_cast<uint16_t>(piece.length),
                              0, work.data(), static_cast<uint16_t>(piece.length)))
      return false;
  }
  return true;
}

void IssueReadKernelInfo(FlashContext& ctx, DriveIndex drive) {
  std::vector<uint8_t> reply(65535);
  ReadKernelInfo(ctx.atapi, drive, reply.data());
}

}  // namespace

FlashResult FlashBankWrite(FlashContext& ctx, DriveIndex drive) {
  const auto plan = PlanBankPieces(ctx);
  if (!plan) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 3);
  IssueReadKernelInfo(ctx, drive);
  PostFlashBanner(ctx, kWaitOneMinute);
  if (!SendBankPieces(ctx, drive, *plan)) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax * 2 / 3);
  if (!SendFlashCommit(ctx, drive, 4, static_cast<uint32_t>(plan->size()))) return kWriteBufferFail;
  if (auto failure = WaitReadyAfterFlash(ctx, drive)) return failure;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax);
  return std::nullopt;
}

FlashResult FlashBankWritePolled(FlashContext& ctx, DriveIndex drive) {
  const auto plan = PlanBankPieces(ctx);
  if (!plan) return kWriteBufferFail;
  IssueReadKernelInfo(ctx, drive);
  PostFlashBanner(ctx, kWaitOneMinute);
  if (!SendBankPieces(ctx, drive, *plan)) return kWriteBufferFail;
  if (!SendFlashCommit(ctx, drive, 5, static_cast<uint32_t>(plan->size()))) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 4);
  if (auto failure = RunFlashProgressPoll(ctx, drive, false)) return failure;
  ctx.view.Pump();
  return std::nullopt;
}

FlashResult FlashHalfBankWrite(FlashContext& ctx, DriveIndex drive) {
  IssueReadKernelInfo(ctx, drive);
  PostFlashBanner(ctx, kWaitOneMinute);
  const auto banks = static_cast<uint32_t>(CeilDiv(ctx.imageLength, kBankSize));
  std::vector<uint8_t> half(kHalfBank);
  for (uint32_t bank = 0; bank < banks; ++bank) {
    for (uint32_t offset : {0u, kHalfBank}) {
      CopyImageSlice(ctx, uint64_t{bank} * kBankSize + offset, half.data(), kHalfBank);
      if (!SendFlashDataCommand(ctx, drive, 5, static_cast<uint8_t>(bank), static_cast<uint16_t>(offset), 0,
                                half.data(), kHalfBank))
        return kWriteBufferFail;
    }
  }
  if (!SendFlashCommit(ctx, drive, 4, banks)) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 4);
  if (auto failure = RunFlashProgressPoll(ctx, drive, true)) return failure;
  ctx.view.Pump();
  return std::nullopt;
}

}  // namespace ofs
