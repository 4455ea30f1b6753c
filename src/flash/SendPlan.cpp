#include "flash/SendPlan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "flash/FlashSteps.h"

namespace ofs {
namespace {

constexpr uint32_t kMaxBankTransfer = 65534;
constexpr uint32_t kHalfBank = kBankSize / 2;
constexpr uint32_t kPhilipsLengthOverhead = 40;
constexpr uint32_t kKernelHalf = 16;  // banks per pass of a two-pass kernel flash
// The bank byte and the Philips block index and count are one byte each, and no
// drive takes them modulo 256: a bank past 255 would land on an earlier one.
constexpr uint32_t kByteValues = 256;
constexpr char kBankByteWhy[] = "its bank byte names banks 0 to 255 only";

constexpr char kPadByteWhy[] =
    "a bank of odd length is sent with a zero byte in place of the byte after its end";

void AddBlocks(SendPlan& plan, uint32_t firstBank, uint32_t banks) {
  for (uint32_t bank = firstBank; bank < firstBank + banks; ++bank)
    for (uint32_t k = 0; k < 4; ++k) plan.pieces.push_back({uint64_t{bank} * kBankSize + k * kBlockSize, kBlockSize});
}

const UnplacedBytes* UnplacedAt(const SendPlan& plan, uint64_t offset) {
  for (const UnplacedBytes& u : plan.unplaced)
    if (offset >= u.offset && offset - u.offset < u.length) return &u;
  return nullptr;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llXh", static_cast<unsigned long long>(value));
  return text;
}

std::string ProcedureName(const FlashContext& ctx, bool philipsImage) {
  return philipsImage ? std::string("a Philips image") : "flash type " + std::to_string(ctx.imageParameter.AtapiFlashType);
}

}  // namespace

SendPlan PlanBankWrite(const FlashContext& ctx) {
  SendPlan plan;
  const auto bankCount = CeilDiv(ctx.imageLength, kBankSize);
  if (ctx.imageParameter.MaxBankSize == kBankSize) {
    plan.notSentWhy = "it sends each bank only as far as the bank's used length in the header";
    const auto& sizes = ctx.imageParameter.BankSizes;
    if (sizes.size() > bankCount) plan.cannotSend = "its header names more banks than the image holds";
    for (uint32_t i = 0; i < sizes.size() && !plan.cannotSend; ++i) {
      if (sizes[i] > kMaxBankTransfer) plan.cannotSend = "a bank transfer carries at most 65534 bytes";
      plan.pieces.push_back({uint64_t{i} * kBankSize, sizes[i]});
      if (sizes[i] % 2 != 0) plan.unplaced.push_back({uint64_t{i} * kBankSize + sizes[i], 1, kPadByteWhy});
    }
  } else {
    // The transfer's limit is the protocol's: the last two bytes of every 64 KiB are no firmware.
    for (uint32_t i = 0; i < bankCount; ++i) {
      const uint32_t rest = ctx.imageLength - i * kBankSize;
      plan.pieces.push_back({uint64_t{i} * kBankSize, std::min(rest, kMaxBankTransfer), std::min(rest, kBankSize)});
    }
  }
  if (plan.pieces.size() > kByteValues) plan.cannotSend = kBankByteWhy;
  return plan;
}

SendPlan PlanHalfBankWrite(const FlashContext& ctx) {
  SendPlan plan;
  const auto bankCount = static_cast<uint32_t>(CeilDiv(ctx.imageLength, kBankSize));
  if (bankCount > kByteValues) plan.cannotSend = kBankByteWhy;
  for (uint32_t bank = 0; bank < bankCount && !plan.cannotSend; ++bank)
    for (uint32_t half : {0u, kHalfBank}) plan.pieces.push_back({uint64_t{bank} * kBankSize + half, kHalfBank});
  return plan;
}

SendPlan PlanBlockSums(const FlashContext& ctx) {
  SendPlan plan;
  plan.notSentWhy = "it sends whole 16 KiB blocks only";
  // Block numbers and the count go modulo 256; the drive takes the blocks in the order sent.
  const uint32_t blocks = ctx.imageLength / kBlockSize;
  for (uint32_t i = 0; i < blocks; ++i) plan.pieces.push_back({uint64_t{i} * kBlockSize, kBlockSize});
  return plan;
}

SendPlan PlanTwoBanks(const FlashContext&) {
  SendPlan plan;
  plan.notSentWhy = "it sends banks 0 and 1 only";
  AddBlocks(plan, 1, 1);
  AddBlocks(plan, 0, 1);
  return plan;
}

SendPlan PlanKernel(const FlashContext& ctx) {
  SendPlan plan;
  plan.notSentWhy = "it sends whole 64 KiB banks only";
  const uint32_t banks = ctx.imageLength / kBankSize;
  // Pass 1 of a large image sends banks 16 to 31, and its poll waits for the drive's
  // one-byte bank to reach the bank count, which it never does past 32. An image
  // without one whole bank has nothing to program and no progress scale.
  if (banks == 0 || (banks > kKernelHalf && banks != 2 * kKernelHalf)) {
    plan.cannotSend = "it writes 1 to 16 whole banks of 64 KiB in one pass, or 32 in two";
  } else if (banks > kKernelHalf) {
    AddBlocks(plan, kKernelHalf, kKernelHalf);
    AddBlocks(plan, 0, kKernelHalf);
  } else {
    AddBlocks(plan, 0, banks);
  }
  return plan;
}

uint32_t PhilipsBlockCount(uint32_t imageLength) {
  return static_cast<uint32_t>((uint64_t{imageLength} + kPhilipsLengthOverhead) / kBlockSize);
}

SendPlan PlanPhilipsImage(const FlashContext&, uint32_t blockCount) {
  SendPlan plan;
  plan.notSentWhy = "it sends (length + 40) div 16384 blocks of 16 KiB only";
  // The drive programs after the block whose index + 1 is the count byte.
  if (blockCount >= kByteValues) plan.cannotSend = "its block count is one byte, so it sends at most 255 blocks";
  for (uint32_t i = 0; i < blockCount && !plan.cannotSend; ++i) plan.pieces.push_back({uint64_t{i} * kBlockSize, kBlockSize});
  return plan;
}

SendPlan PlanFor(const FlashContext& ctx, bool philipsImage) {
  if (philipsImage) return PlanPhilipsImage(ctx, PhilipsBlockCount(ctx.imageLength));
  switch (ctx.imageParameter.AtapiFlashType) {
    case 1:
    case 3:
    case 4:
    case 5:
      return PlanBankWrite(ctx);
    case 2:
      return PlanBlockSums(ctx);
    case 6:
      return PlanKernel(ctx);
    case 7:
      return PlanHalfBankWrite(ctx);
    default:
      return PlanTwoBanks(ctx);
  }
}

std::optional<ByteRange> UnsentNonZeroBytes(const FlashContext& ctx, const SendPlan& plan) {
  std::vector<ImagePiece> sent = plan.pieces;
  std::sort(sent.begin(), sent.end(), [](const ImagePiece& a, const ImagePiece& b) { return a.offset < b.offset; });
  std::optional<ByteRange> found;
  const auto scan = [&](uint64_t from, uint64_t to) {
    to = std::min<uint64_t>(to, ctx.imageLength);
    for (uint64_t i = from; i < to; ++i) {
      if (ctx.imageBuffer[i] == 0) continue;
      if (!found) found = ByteRange{i, i};
      found->last = i;
    }
  };
  uint64_t covered = 0;  // every byte below it is carried
  for (const ImagePiece& piece : sent) {
    if (piece.offset > covered) scan(covered, piece.offset);
    covered = std::max(covered, piece.offset + std::max(piece.length, piece.span));
  }
  scan(covered, ctx.imageLength);
  return found;
}

std::optional<PlanRefusal> WholeImageRefusal(const FlashContext& ctx, bool philipsImage) {
  const SendPlan plan = PlanFor(ctx, philipsImage);
  const std::string name = ProcedureName(ctx, philipsImage);
  if (plan.cannotSend) {
    std::string detail = name + " cannot carry this image: " + plan.cannotSend + ".";
    detail[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(detail[0])));
    return PlanRefusal{kWriteBufferFail, detail};
  }
  const auto unsent = UnsentNonZeroBytes(ctx, plan);
  if (!unsent) return std::nullopt;
  const UnplacedBytes* unplaced = UnplacedAt(plan, unsent->first);
  const std::string bytes = unsent->first == unsent->last
                                ? "byte " + Hex(unsent->first) + " is not zero"
                                : "bytes " + Hex(unsent->first) + " to " + Hex(unsent->last) + " are not all zero";
  const std::string reason = "This image cannot be sent whole: " + bytes + ", and " + name +
                             " does not send them to their place: " + (unplaced ? unplaced->why : plan.notSentWhy) + ".";
  return PlanRefusal{reason, reason};
}

}  // namespace ofs
