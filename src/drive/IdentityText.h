#pragma once
// Identity texts (model, version, date code, hardware ID) are fixed-width slices
// of a reply; a text ends at the first zero byte of its slice.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// An identity as it is shown, on a terminal, in JSON or in the window: a zero, a
// control byte or a byte above 7Eh becomes a blank, as a blank identity reads. What
// is matched against an image keeps its bytes: only texts that are shown pass here.
inline std::string ShownIdentity(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) c = ' ';
  }
  return shown;
}

// A name from outside (a file path, a drive node, a field of the run history, a
// process name) where a person reads it: blanked as an identity is, so that no byte
// of it retitles or clears a terminal or breaks a line. Files and JSON keep it exact.
inline std::string ShownName(std::string_view name) { return ShownIdentity(name); }

// A fixed-width identity field as it is shown, without the blanks that pad it.
inline std::string ShownField(std::string_view field) { return WithoutPadding(ShownIdentity(field)); }

}  // namespace ofs
