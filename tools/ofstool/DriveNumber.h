#pragma once
// A drive number given on the command line (--drive N).
#include <cstdlib>
#include <optional>

namespace ofstool {

// The number, or nothing when the text is not a whole number from 0 to 255.
inline std::optional<int> ParseDriveIndex(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 255) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace ofstool
