#include "app/VersionNumber.h"

#include <cctype>
#include <charconv>

namespace ofs {

double VersionNumber(const std::string& text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p != end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = p != end && *p == '-';
  if (p != end && (*p == '+' || *p == '-')) ++p;
  // Only decimal digits make a number: a version of letters such as "INF1" or "NANO" is 0,
  // not an infinity or a NaN that would compare as newer (or never as older) than any image.
  if (p == end || !(std::isdigit(static_cast<unsigned char>(*p)) || *p == '.')) return 0.0;
  // from_chars ignores the locale, unlike strtod, so "1.10" reads the same everywhere.
  double value = 0.0;
  const auto result = std::from_chars(p, end, value, std::chars_format::general);
  if (result.ec != std::errc()) return 0.0;
  return negative ? -value : value;
}

}  // namespace ofs
