#pragma once
// The flash procedures, one per kind of drive controller.
#include <vector>

#include "flash/FlashContext.h"

namespace ofs {

FlashResult FlashPhilipsImage(FlashContext& ctx, DriveIndex drive, uint32_t blockCount, uint16_t headerCheckSum,
                              uint16_t trailerWord);
FlashResult FlashBankWrite(FlashContext& ctx, DriveIndex drive);
FlashResult FlashBankWritePolled(FlashContext& ctx, DriveIndex drive);
FlashResult FlashHalfBankWrite(FlashContext& ctx, DriveIndex drive);
FlashResult FlashBlockSums(FlashContext& ctx, DriveIndex drive);
FlashResult FlashTwoBanks(FlashContext& ctx, DriveIndex drive);
FlashResult FlashKernelWithRetries(FlashContext& ctx, DriveIndex drive);

// The procedure for an OFS image's ATAPI flash type (not for Philips images).
FlashResult FlashByType(FlashContext& ctx, DriveIndex drive);

// The opcodes that carry such an image to the drive: its data and the vendor
// commands around it (the standard commands of every flash are left out).
std::vector<uint8_t> FlashOpcodes(uint8_t atapiFlashType, bool philipsImage);

}  // namespace ofs
