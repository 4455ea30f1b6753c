#pragma once
#include "flash/FlashContext.h"

namespace ofs {

// Checks the flashed drive by its own checksum or by reading the flash back;
// reports failures in its own boxes.
bool VerifyFlash(FlashContext& ctx, DriveIndex drive);
// destination holds imageLength rounded up to a multiple of 256 bytes.
bool ReadBackImage(FlashContext& ctx, DriveIndex drive, uint8_t* destination);
// Asked before flashing with verification on: the text that refuses an image the
// read-back cannot reach (a one-byte bank stops at 16 MiB) on a drive that cannot
// report its checksum, or nothing when the flash can be verified.
FlashResult CheckVerifiable(FlashContext& ctx, DriveIndex drive);

}  // namespace ofs
