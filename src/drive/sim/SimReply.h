#pragma once
// Small helpers the simulated drive's command handlers share.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "drive/TransportBackend.h"
#include "drive/sim/SimProfile.h"

namespace ofs::sim {

inline constexpr SimSense kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr SimSense kInvalidField{0x05, 0x24, 0x00};
inline constexpr SimSense kInvalidParameter{0x05, 0x26, 0x00};
inline constexpr SimSense kOutOfRange{0x05, 0x21, 0x00};
inline constexpr SimSense kSequenceError{0x05, 0x2C, 0x00};
inline constexpr SimSense kRemovalPrevented{0x05, 0x53, 0x02};

// Fixed-format sense; byte 4 and bytes 5-6 carry the programming progress.
inline SenseData MakeSense(const SimSense& s, uint8_t bank = 0, uint16_t count = 0) {
  SenseData sense{};
  sense[0] = 0x70;
  sense[2] = s[0];
  sense[4] = bank;
  sense[5] = static_cast<uint8_t>(count >> 8);
  sense[6] = static_cast<uint8_t>(count);
  sense[7] = 10;
  sense[12] = s[1];
  sense[13] = s[2];
  return sense;
}

inline uint32_t Be16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }
inline uint32_t Be24(const uint8_t* p) { return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; }

// Copies a reply into a data-in buffer, never more than the host asked for.
inline void CopyReply(uint8_t* buffer, uint32_t length, uint8_t direction, const uint8_t* data, std::size_t size) {
  if (buffer == nullptr || direction != kDirIn) return;
  std::memcpy(buffer, data, std::min<std::size_t>(size, length));
}

}  // namespace ofs::sim
