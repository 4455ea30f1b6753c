#pragma once
// Parsing helpers for the container tests: every parse writes into a flat image
// followed by guard bytes, so a write past the flat image shows up.
#include <cstdint>
#include <optional>
#include <vector>

#include "firmware/Ofs.h"

namespace ofs::test {

struct Parsed {
  bool ok = false;
  SOFSParameter parameter;
  std::vector<uint8_t> flat;
  bool guardIntact = true;
};

inline constexpr uint8_t kGuard = 0xEE;
inline constexpr std::size_t kGuardLength = 64;

// flatLength defaults to the size rule (less 40 for a Philips image).
inline Parsed Parse(const std::vector<uint8_t>& container, std::optional<std::size_t> flatLength = std::nullopt,
                    SOFSParameter start = {}) {
  std::size_t n = flatLength.value_or(GetFirmwareImageSize(container.data(), container.size()));
  if (!flatLength && IsPhilipsImage(container.data(), container.size())) n -= 40;
  std::vector<uint8_t> buffer(n + kGuardLength, kGuard);
  std::fill_n(buffer.begin(), n, 0);
  Parsed result{false, std::move(start), {}, true};
  // An exact-size copy lets the address sanitizer see any read past the input.
  const std::vector<uint8_t> input(container);
  result.ok = ParseFirmwareImage(input.data(), input.size(), result.parameter, buffer.data(), n);
  for (std::size_t i = n; i < buffer.size(); ++i) result.guardIntact &= buffer[i] == kGuard;
  buffer.resize(n);
  result.flat = std::move(buffer);
  return result;
}

inline void PutLe32(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace ofs::test
