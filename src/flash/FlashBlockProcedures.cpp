// Flash type 2 (blocks with their sums), the two-bank procedure of the oldest
// controllers, Philips images, and the choice of procedure by flash type.
#include <array>
#include <cstdio>
#include <numeric>
#include <vector>

#include "flash/FlashProcedures.h"
#include "flash/FlashSteps.h"
#include "flash/SendPlan.h"

namespace ofs {
namespace {

uint16_t ByteSum(const uint8_t* data, std::size_t length) {
  return static_cast<uint16_t>(std::accumulate(data, data + length, uint32_t{0}));
}

bool SendBlockSumCommand(FlashContext& ctx, DriveIndex drive, uint8_t* block, uint16_t imageSum, uint32_t number,
                         uint32_t count) {
  const uint16_t blockSum = ByteSum(block, kBlockSize);
  const std::array<uint8_t, 12> cdb{0xFD,
                                    0x07,
                                    'V',
                                    'I',
                                    'D',
                                    'A',
                                    static_cast<uint8_t>(blockSum >> 8),
                                    static_cast<uint8_t>(blockSum),
                                    static_cast<uint8_t>(imageSum >> 8),
                                    static_cast<uint8_t>(imageSum),
                                    static_cast<uint8_t>(number),
                                    static_cast<uint8_t>(count)};
  return SendAtapiCommand(ctx.atapi, drive, cdb.data(), block, static_cast<uint16_t>(kBlockSize), kDirOut);
}

// WRITE BUFFER mode 7 without data: the drive saves the bank it has buffered. False only
// when the drive itself refused: as it starts programming it may drop the status.
bool SaveBank(FlashContext& ctx, DriveIndex drive, uint8_t bank) {
  const std::array<uint8_t, 12> cdb{0x3B, 0x07, 0x00, bank, 0, 0, 0, 0, 0, 0, 0, 0};
  return SendAtapiCommand(ctx.atapi, drive, cdb.data(), nullptr, 0, kDirNone) ||
         !ctx.atapi.LastCommandRejectedByDrive();
}

}  // namespace

FlashResult FlashBlockSums(FlashContext& ctx, DriveIndex drive) {
  const SendPlan plan = PlanBlockSums(ctx);
  const auto blocks = static_cast<uint32_t>(plan.pieces.size());
  const uint16_t imageSum = ByteSum(ctx.imageBuffer, ctx.imageLength);
  PostFlashBanner(ctx, kWaitOneMinute);
  int bankCounter = 0;
  std::vector<uint8_t> block(kBlockSize);
  for (uint32_t i = 0; i < blocks; ++i) {
    ctx.view.Pump();
    if (ctx.view.Progress() == kProgressMax) {
      ctx.view.SetProgress(static_cast<int>(kBlockSize));
      ++bankCounter;
    } else {
      ctx.view.SetProgress(ctx.view.Progress() + static_cast<int>(kBlockSize));
    }
    ctx.view.DeleteFirstLine();
    std::array<char, 256> line{};
    std::snprintf(line.data(), line.size(), "Flash Bank: %d Address: %04Xh", bankCounter,
                  static_cast<unsigned>(ctx.view.Progress() - 1));
    ctx.view.PostStatusLine(line.data());
    CopyImageSlice(ctx, plan.pieces[i].offset, block.data(), kBlockSize);
    // The drive's answer is not waited for, but a block it refused is not in it.
    if (!SendBlockSumCommand(ctx, drive, block.data(), imageSum, i + 1, blocks) && ctx.atapi.LastCommandRefused())
      return kWriteBufferFail;
  }
  if (auto failure = WaitReadyAfterFlash(ctx, drive)) return failure;
  ctx.view.Pump();
  return std::nullopt;
}

FlashResult FlashTwoBanks(FlashContext& ctx, DriveIndex drive) {
  ctx.view.Pump();
  ctx.view.SetProgress(0);
  const SendPlan plan = PlanTwoBanks(ctx);
  std::vector<uint8_t> block(kBlockSize);
  for (const ImagePiece& piece : plan.pieces) {
    const auto bank = static_cast<uint8_t>(piece.offset / kBankSize);
    const auto offset = static_cast<uint16_t>(piece.offset % kBankSize);
    CopyImageSlice(ctx, piece.offset, block.data(), piece.length);
    if (!WriteFlashBuffer(ctx.atapi, drive, block.data(), static_cast<uint16_t>(piece.length), bank, offset) &&
        ctx.atapi.LastCommandRefused())
      return kWriteBufferFail;
    ctx.view.Pump();
    ctx.view.SetProgress(ctx.view.Progress() + kProgressMax / 8);
    // Each bank is saved once its last block is in.
    if ((piece.offset + piece.length) % kBankSize == 0 && !SaveBank(ctx, drive, bank)) return kWriteBufferFail;
  }
  return WaitReadyAfterFlash(ctx, drive);
}

FlashResult FlashPhilipsImage(FlashContext& ctx, DriveIndex drive, uint32_t blockCount, uint16_t headerCheckSum,
                              uint16_t trailerWord) {
  const SendPlan plan = PlanPhilipsImage(ctx, blockCount);
  if (plan.cannotSend) return kWriteBufferFail;
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 4);
  WaitDriveReady(ctx.atapi, drive, kReadyTimeoutSeconds);
  ctx.view.Pump();
  ctx.view.SetProgress(kProgressMax / 2);
  const auto count = static_cast<uint32_t>(plan.pieces.size());
  std::vector<uint8_t> block(kBlockSize);
  for (uint32_t i = 0; i < count; ++i) {
    CopyImageSlice(ctx, plan.pieces[i].offset, block.data(), kBlockSize);
    const bool sent = SendFirmwareBlock(ctx.atapi, drive, block.data(), static_cast<uint8_t>(i),
                                        static_cast<uint8_t>(count), headerCheckSum, trailerWord);
    // The drive may already reboot into the new firmware while taking the last
    // block, but not when it refused the block.
    if (!sent && (i + 1 != count || ctx.atapi.LastCommandRefused())) {
      ctx.atapi.GetSenseData(ctx.senseData.data());
      std::array<char, 256> text{};
      std::snprintf(text.data(), text.size(), "Firmware update failure (%02X:%02X:%02X)", ctx.senseData[2],
                    SenseAsc(ctx.senseData), SenseAscq(ctx.senseData));
      return std::string(text.data());
    }
  }
  ctx.clock().Sleep(std::chrono::milliseconds(20000));
  return WaitReadyAfterFlash(ctx, drive);
}

FlashResult FlashByType(FlashContext& ctx, DriveIndex drive) {
  switch (ctx.imageParameter.AtapiFlashType) {
    case 1:
    case 3:
    case 5:
      return FlashBankWrite(ctx, drive);
    case 2:
      return FlashBlockSums(ctx, drive);
    case 4:
      return FlashBankWritePolled(ctx, drive);
    case 6:
      return FlashKernelWithRetries(ctx, drive);
    case 7:
      return FlashHalfBankWrite(ctx, drive);
    default:
      return FlashTwoBanks(ctx, drive);
  }
}

std::vector<uint8_t> FlashOpcodes(uint8_t atapiFlashType, bool philipsImage) {
  constexpr uint8_t kVendor = 0x5A, kWriteBuffer = 0x3B, kBlockSum = 0xFD, kFirmwareBlock = 0xFA;
  if (philipsImage) return {kFirmwareBlock};
  switch (atapiFlashType) {
    case 1:
    case 3:
    case 4:
    case 5:
    case 7:
      return {kVendor};
    case 2:
      return {kBlockSum};
    case 6:
      return {kWriteBuffer, kVendor};
    default:
      return {kWriteBuffer};
  }
}

}  // namespace ofs
