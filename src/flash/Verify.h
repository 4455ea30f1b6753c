#pragma once
#include "flash/FlashContext.h"

namespace ofs {

// Checks the flashed drive by its own checksum or by reading the flash back;
// reports failures in its own boxes.
bool VerifyFlash(FlashContext& ctx, DriveIndex drive);
// destination holds imageLength rounded up to a multiple of 256 bytes.
bool ReadBackImage(FlashContext& ctx, DriveIndex drive, uint8_t* destination);

}  // namespace ofs
