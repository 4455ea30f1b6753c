#include "app/VersionNumber.h"

#include <cctype>
#include <charconv>

namespace ofs {

double VersionNumber(const std::string& text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p != end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (p != end && *p == '+') ++p;
  // from_chars ignores the locale, unlike strtod, so "1.10" reads the same everywhere.
  double value = 0.0;
  const auto result = std::from_chars(p, end, value, std::chars_format::general);
  return result.ec == std::errc() ? value : 0.0;
}

}  // namespace ofs
