#include "flash/FlashSteps.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace ofs {

void PostFlashBanner(FlashContext& ctx, const char* waitLine) {
  ctx.view.Pump();
  ctx.view.PostStatusLine("WARNING !!!");
  ctx.view.PostStatusLine(waitLine);
  ctx.view.PostStatusLine("Flashing is processing...");
}

void CopyImageSlice(const FlashContext& ctx, uint64_t offset, uint8_t* out, uint32_t length) {
  std::memset(out, 0, length);
  if (offset >= ctx.imageLength) return;
  const uint64_t inside = std::min<uint64_t>(length, ctx.imageLength - offset);
  std::memcpy(out, ctx.imageBuffer + offset, inside);
}

bool SendFlashDataCommand(FlashContext& ctx, DriveIndex drive, uint8_t subFunction, uint8_t byte7,
                          uint16_t value89, uint16_t value1011, uint8_t* data, uint16_t length) {
  const std::array<uint8_t, 12> cdb{0x5A,
                                    0x00,
                                    0x38,
                                    'O',
                                    'R',
                                    0xA0,
                                    subFunction,
                                    byte7,
                                    static_cast<uint8_t>(value89 >> 8),
                                    static_cast<uint8_t>(value89),
                                    static_cast<uint8_t>(value1011 >> 8),
                                    static_cast<uint8_t>(value1011)};
  return SendAtapiCommand(ctx.atapi, drive, cdb.data(), data, length, kDirOut);
}

bool SendFlashCommit(FlashContext& ctx, DriveIndex drive, uint8_t subFunction, uint32_t banksSent) {
  constexpr uint16_t kCommitLength = 128;
  std::array<uint8_t, kCommitLength> head{};
  CopyImageSlice(ctx, 0, head.data(), kCommitLength);
  const auto code = static_cast<uint8_t>(0xE0 + banksSent);
  // Only the drive's own "illegal request" counts: as it starts programming it may drop
  // the commit's status, and the ready wait tells what happened then.
  return SendFlashDataCommand(ctx, drive, subFunction, code, kCommitLength, ctx.imageParameter.HeaderCheckSum,
                              head.data(), kCommitLength) ||
         !ctx.atapi.LastCommandRejectedByDrive();
}

FlashResult WaitReadyAfterFlash(FlashContext& ctx, DriveIndex drive) {
  if (!WaitDriveReady(ctx.atapi, drive, kReadyTimeoutSeconds)) return kWaitReadyTimeOut;
  return std::nullopt;
}

FlashResult RunFlashProgressPoll(FlashContext& ctx, DriveIndex drive, bool anyAscq) {
  const auto start = ctx.clock().Now();
  const auto limit = std::chrono::seconds(kReadyTimeoutSeconds);
  for (;;) {
    if (TestUnitReady(ctx.atapi, drive)) return std::nullopt;
    if (ctx.clock().Now() - start > limit) return kProgressTimeOut;
    SenseData sense{};
    ctx.atapi.GetSenseData(sense.data());
    if (SenseKey(sense) != 2) return kTriggerFail;
    if (SenseAsc(sense) == 0x3A) return std::nullopt;
    const bool programming = SenseAsc(sense) == 0x04 && (anyAscq || SenseAscq(sense) == 0x08);
    if (!programming) return kTriggerFail;
    ctx.view.Pump();
    ctx.view.SetProgress(sense[5] * 256 + sense[6] + 1);
    ctx.clock().Sleep(kPollInterval);
  }
}

}  // namespace ofs
