#pragma once
// Building blocks shared by the flash procedures: the texts they return, the
// status banner, the vendor bank command, zero-padded slices of the image and
// the waits that end a flash.
#include <cstdint>
#include <string>

#include "flash/FlashContext.h"

namespace ofs {

inline constexpr char kWriteBufferFail[] = "Write Buffer Fail !";
inline constexpr char kWaitReadyTimeOut[] = "Wait Drive Ready TimeOut !\n";
inline constexpr char kProgressTimeOut[] = "Flash progress TimeOut !\n";
inline constexpr char kTriggerFail[] = "Trigger Fail !\n";

inline constexpr char kWaitOneMinute[] = "Please wait for at least one minute!";
inline constexpr char kWaitAccomplishment[] = "Please wait for the accomplishment!";

inline constexpr uint32_t kBankSize = 65536;
inline constexpr uint32_t kBlockSize = 16384;
inline constexpr int kReadyTimeoutSeconds = 120;
inline constexpr Clock::Milliseconds kPollInterval{500};

// Sense fields as the drive reports them.
inline uint8_t SenseKey(const SenseData& s) { return s[2] & 0x0F; }
inline uint8_t SenseAsc(const SenseData& s) { return s[12]; }
inline uint8_t SenseAscq(const SenseData& s) { return s[13]; }

// Pump, then "WARNING !!!", the waiting line and "Flashing is processing...".
void PostFlashBanner(FlashContext& ctx, const char* waitLine);

// Copies image bytes [offset, offset + length) into out; bytes past the image are zero.
void CopyImageSlice(const FlashContext& ctx, uint64_t offset, uint8_t* out, uint32_t length);

// The vendor bank command (0x5A ... "OR" 0xA0) with its data going out.
bool SendFlashDataCommand(FlashContext& ctx, DriveIndex drive, uint8_t subFunction, uint8_t byte7,
                          uint16_t value89, uint16_t value1011, uint8_t* data, uint16_t length);
// The commit: the first 128 image bytes, the bank-count code and HeaderCheckSum.
// Its result is not looked at: the wait or poll after it decides.
// False when the drive refused the commit: it will not program what it was sent.
bool SendFlashCommit(FlashContext& ctx, DriveIndex drive, uint8_t subFunction, uint32_t banksSent);

// WaitDriveReady with the 120-second limit, as a flash result.
FlashResult WaitReadyAfterFlash(FlashContext& ctx, DriveIndex drive);

// Polls TEST UNIT READY while the drive programs. NOT READY 04/08 means busy;
// with anyAscq every NOT READY 04/xx does. NOT READY 3A (no medium) means done.
FlashResult RunFlashProgressPoll(FlashContext& ctx, DriveIndex drive, bool anyAscq);

// Rounds up to a whole number of units.
inline uint64_t CeilDiv(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit; }

}  // namespace ofs
