#pragma once
// Identity texts (model, version, date code, hardware ID) are fixed-width slices
// of a reply; a text ends at the first zero byte of its slice.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ofs {

// A fixed-width text without the spaces that pad it.
inline std::string WithoutPadding(const std::string& text) {
  const std::size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

inline std::string IdentityText(const uint8_t* slice, std::size_t width) {
  std::string text;
  for (std::size_t i = 0; i < width && slice[i] != 0; ++i) text += static_cast<char>(slice[i]);
  return text;
}

}  // namespace ofs
