// Flash types 1, 3, 5 (bank writes then a ready wait), 4 (bank writes then a
// progress poll) and 7 (half banks then a progress poll).
#include <vector>

#include "flash/FlashProcedures.h"
#include "flash/FlashSteps.h"
#include "flash/SendPlan.h"

namespace ofs {
namespace {

// Sends every bank with sub-function 5. With the 64 KiB bank layout an odd
// bank gets its zero pad byte in the image first, inside its own slot.
bool SendBankPieces(FlashContext& ctx, DriveIndex drive, const SendPlan& plan) {
  const bool padInImage = ctx.imageParameter.MaxBankSize == kBankSize;
  std::vector<uint8_t> work(kBankSize);
  for (const ImagePiece& piece : plan.pieces) {
    const uint32_t length = (piece.length + 1) & ~1u;  // the drive takes whole 16-bit words
    const uint64_t pad = piece.offset + piece.length;
    if (padInImage && piece.length < kBankSize && pad < ctx.imageLength) ctx.imageBuffer[pad] = 0;
    CopyImageSlice(ctx, piece.offset, work.data(), length);
    if (!SendFlashDataCommand(ctx, drive, 5, static_cast<uint8_t>(piece.offset / kBankSize),
                              static_cast<uint16_t>(length), 0, work.data(), static_cast<uint16_t>(length)))
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
  const SendPlan plan = PlanBankWrite(ctx);
  if (plan.cannotSend) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 3);
  IssueReadKernelInfo(ctx, drive);
  PostFlashBanner(ctx, kWaitOneMinute);
  if (!SendBankPieces(ctx, drive, plan)) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax * 2 / 3);
  if (!SendFlashCommit(ctx, drive, 4, static_cast<uint32_t>(plan.pieces.size()))) return kWriteBufferFail;
  if (auto failure = WaitReadyAfterFlash(ctx, drive)) return failure;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax);
  return std::nullopt;
}

FlashResult FlashBankWritePolled(FlashContext& ctx, DriveIndex drive) {
  const SendPlan plan = PlanBankWrite(ctx);
  if (plan.cannotSend) return kWriteBufferFail;
  IssueReadKernelInfo(ctx, drive);
  PostFlashBanner(ctx, kWaitOneMinute);
  if (!SendBankPieces(ctx, drive, plan)) return kWriteBufferFail;
  if (!SendFlashCommit(ctx, drive, 5, static_cast<uint32_t>(plan.pieces.size()))) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 4);
  if (auto failure = RunFlashProgressPoll(ctx, drive, false)) return failure;
  ctx.view.Pump();
  return std::nullopt;
}

FlashResult FlashHalfBankWrite(FlashContext& ctx, DriveIndex drive) {
  const SendPlan plan = PlanHalfBankWrite(ctx);
  if (plan.cannotSend) return kWriteBufferFail;
  IssueReadKernelInfo(ctx, drive);
  PostFlashBanner(ctx, kWaitOneMinute);
  std::vector<uint8_t> half(kBankSize / 2);
  for (const ImagePiece& piece : plan.pieces) {
    CopyImageSlice(ctx, piece.offset, half.data(), piece.length);
    if (!SendFlashDataCommand(ctx, drive, 5, static_cast<uint8_t>(piece.offset / kBankSize),
                              static_cast<uint16_t>(piece.offset % kBankSize), 0, half.data(),
                              static_cast<uint16_t>(piece.length)))
      return kWriteBufferFail;
  }
  // Two halves per bank.
  if (!SendFlashCommit(ctx, drive, 4, static_cast<uint32_t>(plan.pieces.size() / 2))) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 4);
  if (auto failure = RunFlashProgressPoll(ctx, drive, true)) return failure;
  ctx.view.Pump();
  return std::nullopt;
}

}  // namespace ofs
