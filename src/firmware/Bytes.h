#pragma once
// Bounded little/big-endian field readers: bytes past the end of the input read
// as 0x00, so a short or corrupt buffer can never be read outside its bounds.
#include <cstddef>
#include <cstdint>

namespace ofs::bytes {

inline uint8_t At(const uint8_t* data, std::size_t length, uint64_t offset) {
  return offset < length ? data[offset] : 0;
}

inline uint32_t Le(const uint8_t* data, std::size_t length, uint64_t offset, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | At(data, length, offset + i);
  return value;
}

inline uint32_t Be(const uint8_t* data, std::size_t length, uint64_t offset, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | At(data, length, offset + i);
  return value;
}

}  // namespace ofs::bytes
