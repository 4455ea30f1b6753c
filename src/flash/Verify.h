#pragma once
#include "flash/FlashContext.h"

namespace ofs {

// Checks the flashed drive by its own checksum or by reading the flash back. A
// failure is the text of its box, which the caller shows once the drive is given back.
FlashResult VerifyFlash(FlashContext& ctx, DriveIndex drive);

// What the drive's flash holds against the working image, found as VerifyFlash finds
// it but without a line or a box: by the drive's checksum report where it has one,
// else by reading the flash back (reserved blocks left out on both sides).
struct FlashCheck {
  enum class Outcome {
    Matches,
    Differs,
    Unanswered,      // the drive refused the checksum query or the read (its sense is the last command's)
    BeyondReadBack,  // no checksum report, and the image lies past the read-back's 16 MiB
  };
  Outcome outcome = Outcome::Unanswered;
  bool byChecksum = false;
  uint16_t driveChecksum = 0;    // by checksum: what the drive reported
  uint32_t firstDifference = 0;  // by read-back: the address of the first byte that differs
  uint32_t differingBytes = 0;   // and how many differ
};
FlashCheck CheckFlash(FlashContext& ctx, DriveIndex drive);
// destination holds imageLength rounded up to a multiple of 256 bytes.
bool ReadBackImage(FlashContext& ctx, DriveIndex drive, uint8_t* destination);
// Asked before flashing with verification on: the text that refuses an image the
// read-back cannot reach (a one-byte bank stops at 16 MiB) on a drive that cannot
// report its checksum, or nothing when the flash can be verified.
FlashResult CheckVerifiable(FlashContext& ctx, DriveIndex drive);

}  // namespace ofs
