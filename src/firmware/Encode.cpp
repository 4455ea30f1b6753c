#include "firmware/Encode.h"

#include <array>

namespace ofs {

namespace {

// The key is multiplied by 35 after every 8 bytes; 35 has order dividing 64
// modulo 256, so the additive pattern repeats every 64 x 8 bytes. One table of
// that period turns the transform into a plain vectorisable subtraction.
constexpr std::size_t kPeriod = 512;

std::array<uint8_t, kPeriod> PatternFor(uint8_t key) {
  std::array<uint8_t, kPeriod> pattern{};
  uint8_t k = key;
  for (std::size_t p = 0; p < kPeriod; ++p) {
    pattern[p] = static_cast<uint8_t>(57 * (p % 8) + k);
    if (p % 8 == 7) k = static_cast<uint8_t>(k * 35);
  }
  return pattern;
}

}  // namespace

void ScrambleBytes(uint8_t* buffer, std::size_t length, uint8_t key) {
  const std::array<uint8_t, kPeriod> pattern = PatternFor(key);
  std::size_t p = 0;
  for (; p + kPeriod <= length; p += kPeriod) {
    uint8_t* block = buffer + p;
    for (std::size_t i = 0; i < kPeriod; ++i) block[i] = static_cast<uint8_t>(pattern[i] - block[i]);
  }
  for (std::size_t i = 0; p + i < length; ++i) buffer[p + i] = static_cast<uint8_t>(pattern[i] - buffer[p + i]);
}

}  // namespace ofs
