// INI-style lookups on a line vector. The matching rules are deliberately
// loose (prefix keys, no end of section for keys): stored parameter texts
// depend on exactly these rules, so they must not be "fixed".
#include "params/Tool.h"

#include <climits>
#include <cstdlib>
#include <optional>

namespace ofs {

namespace {

bool StartsWith(const std::string& line, const std::string& prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

std::string Header(const std::string& section) { return "[" + section + "]"; }

// Index of the first section header; later headers with the same name never
// matter, since their range of lines is contained in the first one's.
std::optional<std::size_t> FindHeader(const Lines& lines, const std::string& section) {
  const std::string header = Header(section);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i], header)) return i;
  }
  return std::nullopt;
}

// The text after the key and one separator character. A line that holds the
// key and nothing more gives an empty value instead of reading past its end.
std::optional<std::string> FindValue(const Lines& lines, const std::string& section, const std::string& key) {
  const std::optional<std::size_t> header = FindHeader(lines, section);
  if (!header) return std::nullopt;
  for (std::size_t j = *header + 1; j < lines.size(); ++j) {
    const std::string& line = lines[j];
    if (!StartsWith(line, key)) continue;
    const std::size_t valueStart = key.size() + 1;
    return valueStart < line.size() ? line.substr(valueStart) : std::string();
  }
  return std::nullopt;
}

// Decimal conversion like strtol on a 32-bit long: white space, sign, digits;
// out-of-range values saturate, no digits give 0.
int32_t ToInt32(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

void SplitLines(const char* text, std::size_t length, Lines& lines) {
  lines.clear();
  std::size_t start = 0;
  for (std::size_t p = 0; p + 1 < length; ++p) {
    if (text[p] == '\r' && text[p + 1] == '\n') {
      lines.emplace_back(text + start, p - start);
      start = p + 2;
      ++p;
    }
  }
  if (start < length) lines.emplace_back(text + start, length - start);
}

int32_t GetIniInt(const Lines& lines, const std::string& section, const std::string& key, int32_t absent) {
  const std::optional<std::string> value = FindValue(lines, section, key);
  return value ? ToInt32(*value) : absent;
}

bool GetIniBool(const Lines& lines, const std::string& section, const std::string& key, bool absent) {
  const std::optional<std::string> value = FindValue(lines, section, key);
  return value ? ToInt32(*value) != 0 : absent;
}

std::string GetIniString(const Lines& lines, const std::string& section, const std::string& key,
                         const std::string& absent) {
  return FindValue(lines, section, key).value_or(absent);
}

Lines GetIniSection(const Lines& lines, const std::string& section) {
  Lines result;
  const std::optional<std::size_t> header = FindHeader(lines, section);
  if (!header) return result;
  for (std::size_t j = *header + 1; j < lines.size() && !StartsWith(lines[j], "["); ++j) {
    result.push_back(lines[j]);
  }
  return result;
}

bool HasIniSection(const Lines& lines, const std::string& section) {
  return FindHeader(lines, section).has_value();
}

std::string JoinLines(const Lines& lines) {
  std::size_t length = 0;
  for (const std::string& line : lines) length += line.size() + 2;
  std::string text;
  text.reserve(length);
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool WriteLinesToFile(const std::string& path, const Lines& lines) {
  const std::string text = JoinLines(lines);
  return WriteFileBinary(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace ofs
