// Flash type 6: block downloads with retries, programming followed through
// REQUEST SENSE, a boot check with up to three attempts and the checksum
// hand-shake.
#include <array>
#include <cstdio>
#include <span>
#include <utility>

#include "flash/FlashProcedures.h"
#include "flash/FlashSteps.h"
#include "flash/SendPlan.h"

namespace ofs {
namespace {

constexpr uint32_t kHalfBanks = 16;  // banks per pass of a large image
constexpr int kWriteRetries = 10;
constexpr int kMaxAttempts = 3;
// The last REQUEST SENSE of pass 2 may take a while: the drive reboots into
// the freshly written lower half before it answers.
constexpr auto kFinishLimit = std::chrono::seconds(240);

struct Pass {
  std::span<const ImagePiece> blocks;
  bool second;  // pass 2 of a two-pass flash
};

class KernelFlash {
 public:
  KernelFlash(FlashContext& ctx, DriveIndex drive, SendPlan plan)
      : ctx_(ctx),
        drive_(drive),
        plan_(std::move(plan)),
        banks_(ctx.imageLength / kBankSize),
        upperHalf_(banks_ > kHalfBanks) {}

  FlashResult Run();

 private:
  FlashResult FlashOnce();
  FlashResult Download(const Pass& pass);
  FlashResult Poll(const Pass& pass);
  FlashResult FinishPass(const Pass& pass);
  FlashResult RequestFinalSense();
  FlashResult ChecksumHandShake();
  void ShowPassProgress(const Pass& pass, uint8_t currentBank);

  FlashContext& ctx_;
  DriveIndex drive_;
  const SendPlan plan_;
  uint32_t banks_;
  bool upperHalf_;
  int retries_ = kWriteRetries;
};

FlashResult KernelFlash::Run() {
  for (int attempt = 1;; ++attempt) {
    if (auto failure = FlashOnce()) return failure;
    ctx_.view.Pump();
    ctx_.view.SetProgress(kProgressMax);
    ctx_.clock().Sleep(std::chrono::milliseconds(3000));
    if (ReadFirmwareVersion(ctx_.atapi, drive_) != "BOOT") break;
    if (attempt == kMaxAttempts) return "Flash Error!";
    std::array<char, 256> line{};
    std::snprintf(line.data(), line.size(), "retrying flash %d time(s)\n", attempt);
    ctx_.view.Pump();
    ctx_.view.ClearLines();
    ctx_.view.AddLine("Last flash fail !");
    ctx_.view.AddLine(line.data());
  }
  if (auto failure = WaitReadyAfterFlash(ctx_, drive_)) return failure;
  return ChecksumHandShake();
}

FlashResult KernelFlash::FlashOnce() {
  ctx_.view.Pump();
  ctx_.view.SetProgress(0);
  // The plan holds the upper half of a two-pass flash first.
  const std::span<const ImagePiece> blocks(plan_.pieces);
  std::array<Pass, 2> plan{Pass{blocks, false}, Pass{}};
  std::size_t passes = 1;
  if (upperHalf_) {
    const std::size_t half = blocks.size() / 2;
    plan = {Pass{blocks.first(half), false}, Pass{blocks.subspan(half), true}};
    passes = 2;
  }
  PostFlashBanner(ctx_, kWaitAccomplishment);
  for (std::size_t p = 0; p < passes; ++p) {
    if (auto failure = Download(plan[p])) return failure;
    // Only pass 1 of a two-pass flash programs the upper half. A trigger the drive refused
    // programs nothing, and the poll's clean sense would read as done.
    if (!TriggerFlash(ctx_.atapi, drive_, upperHalf_ && !plan[p].second ? 1 : 0) &&
        ctx_.atapi.LastCommandRejectedByDrive())
      return kTriggerFail;
    if (auto failure = Poll(plan[p])) return failure;
  }
  return std::nullopt;
}

FlashResult KernelFlash::Download(const Pass& pass) {
  SetDownloadMode(ctx_.atapi, drive_, 1);
  for (const ImagePiece& piece : pass.blocks) {
    // Whole banks only: every block lies inside the image.
    const uint8_t* block = ctx_.imageBuffer + piece.offset;
    while (!WriteFlashBuffer(ctx_.atapi, drive_, block, static_cast<uint16_t>(piece.length),
                             static_cast<uint8_t>(piece.offset / kBankSize),
                             static_cast<uint16_t>(piece.offset % kBankSize))) {
      if (retries_ == 0) return kWriteBufferFail;
      --retries_;
      ctx_.clock().Sleep(kPollInterval);
    }
    retries_ = kWriteRetries;
  }
  SetDownloadMode(ctx_.atapi, drive_, 0);
  return std::nullopt;
}

void KernelFlash::ShowPassProgress(const Pass& pass, uint8_t currentBank) {
  int bank = currentBank;
  if (pass.second)
    bank += static_cast<int>(kHalfBanks);
  else if (upperHalf_)
    bank -= static_cast<int>(kHalfBanks);
  ctx_.view.Pump();
  ctx_.view.SetProgress(static_cast<int>(int64_t{kProgressMax} * bank / static_cast<int64_t>(banks_)));
}

FlashResult KernelFlash::Poll(const Pass& pass) {
  const auto start = ctx_.clock().Now();
  const auto limit = std::chrono::seconds(kReadyTimeoutSeconds);
  SenseData& sense = ctx_.senseData;
  const uint32_t lastBank = pass.second ? kHalfBanks : banks_;
  for (;;) {
    if (ctx_.clock().Now() - start > limit) return kProgressTimeOut;
    // A REQUEST SENSE that fails is asked again at once.
    if (!RequestSense(ctx_.atapi, drive_, sense.data(), upperHalf_ ? 1 : 0, 0)) continue;
    if (sense[2] == 0) return std::nullopt;
    if (SenseKey(sense) == 2 && SenseAsc(sense) == 0x3A) return std::nullopt;
    const bool busy = SenseKey(sense) == 2 && SenseAsc(sense) == 0x04 &&
                      (SenseAscq(sense) == 0x07 || SenseAscq(sense) == 0x08);
    const bool reset = sense[2] == 6 && SenseAsc(sense) == 0x29;
    if (!busy && !reset) return kTriggerFail;
    if (sense[2] == 6 || sense[4] == lastBank) return FinishPass(pass);
    ShowPassProgress(pass, sense[4]);
    ctx_.clock().Sleep(kPollInterval);
  }
}

FlashResult KernelFlash::FinishPass(const Pass& pass) {
  if (pass.second) {
    if (auto failure = RequestFinalSense()) return failure;
    return WaitReadyAfterFlash(ctx_, drive_);
  }
  if (!upperHalf_) {
    RequestSense(ctx_.atapi, drive_, ctx_.senseData.data(), 0, 1);
    return WaitReadyAfterFlash(ctx_, drive_);
  }
  if (auto failure = WaitReadyAfterFlash(ctx_, drive_)) return failure;
  ShowPassProgress(pass, ctx_.senseData[4]);
  return std::nullopt;
}

FlashResult KernelFlash::RequestFinalSense() {
  const auto start = ctx_.clock().Now();
  while (!RequestSense(ctx_.atapi, drive_, ctx_.senseData.data(), 1, 1)) {
    if (ctx_.clock().Now() - start > kFinishLimit) return kProgressTimeOut;
    ctx_.clock().Sleep(kPollInterval);
  }
  return std::nullopt;
}

FlashResult KernelFlash::ChecksumHandShake() {
  std::array<uint8_t, 256> reply{};
  if (!QueryDriveCapability(ctx_.atapi, drive_, reply.data(), 13)) return std::nullopt;
  if (auto failure = WaitReadyAfterFlash(ctx_, drive_)) return failure;
  if (!SetFirmwareChecksum(ctx_.atapi, drive_, ctx_.imageParameter.HeaderCheckSum, ctx_.imageChecksum))
    return "SET F/W CheckSum Error !\n";
  if (auto failure = WaitReadyAfterFlash(ctx_, drive_)) return failure;
  if (!ReadFirmwareChecksum(ctx_.atapi, drive_, reply.data())) return "Get CheckSum Error!";
  if (reply[6] * 256 + reply[7] != ctx_.imageChecksum) return "CheckSum Error!";
  return std::nullopt;
}

}  // namespace

FlashResult FlashKernelWithRetries(FlashContext& ctx, DriveIndex drive) {
  SendPlan plan = PlanKernel(ctx);
  if (plan.cannotSend) return kWriteBufferFail;
  return KernelFlash(ctx, drive, std::move(plan)).Run();
}

}  // namespace ofs
