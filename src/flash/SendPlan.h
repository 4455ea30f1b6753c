#pragma once
// What a flash procedure sends of the flat image. Each procedure sends exactly
// the pieces of its plan, so the plan is also what decides, before the first
// command, whether the whole image reaches the drive.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/FlashContext.h"

namespace ofs {

// The image bytes one command carries (past the image it carries zeros).
struct ImagePiece {
  uint64_t offset;
  uint32_t length;
  uint32_t span = 0;  // the image bytes it stands for, when the protocol leaves the end of its slot out
};

// Bytes inside the procedure's reach that it does not carry as they are, and why.
struct UnplacedBytes {
  uint64_t offset;
  uint64_t length;
  const char* why;
};

struct SendPlan {
  std::vector<ImagePiece> pieces;  // in the order they are sent
  std::vector<UnplacedBytes> unplaced;
  const char* notSentWhy = "";    // why the bytes in no piece are left out
  const char* cannotSend = nullptr;  // set when the procedure cannot carry this image at all
};

// Flash types 1/3/4/5: one transfer per bank.
SendPlan PlanBankWrite(const FlashContext& ctx);
// Flash type 7: two half banks per bank.
SendPlan PlanHalfBankWrite(const FlashContext& ctx);
// Flash type 2: whole 16 KiB blocks with their sums.
SendPlan PlanBlockSums(const FlashContext& ctx);
// Flash type 0, 8 and every type without a procedure of its own: banks 1 and 0.
SendPlan PlanTwoBanks(const FlashContext& ctx);
// Flash type 6: whole banks, the upper half of a 32-bank image first.
SendPlan PlanKernel(const FlashContext& ctx);
// A Philips image of blockCount blocks.
SendPlan PlanPhilipsImage(const FlashContext& ctx, uint32_t blockCount);

// The block count a Philips image is sent with.
uint32_t PhilipsBlockCount(uint32_t imageLength);
// The plan of the procedure that flashes this image.
SendPlan PlanFor(const FlashContext& ctx, bool philipsImage);

// The first and the last image byte that are not zero and that no piece of the plan
// carries to its place, if there are any.
struct ByteRange {
  uint64_t first;
  uint64_t last;
};
std::optional<ByteRange> UnsentNonZeroBytes(const FlashContext& ctx, const SendPlan& plan);

// Why this image cannot go to the drive whole, decided without a drive command:
// the procedure cannot carry it, or it would leave out bytes that are not zero
// (zero bytes outside the plan are padding). Nothing when it can.
struct PlanRefusal {
  std::string box;     // the message box text
  std::string detail;  // the reason, a line for the list
};
std::optional<PlanRefusal> WholeImageRefusal(const FlashContext& ctx, bool philipsImage);

}  // namespace ofs
