#include "drive/sgio/SenseFormat.h"

#include <algorithm>

namespace ofs {
namespace {

constexpr uint8_t kInformationDescriptor = 0x00;
constexpr uint8_t kCommandInfoDescriptor = 0x01;
constexpr uint8_t kKeySpecificDescriptor = 0x02;

// Descriptors carry 8-byte fields; the fixed format has room for their low 4 bytes.
void CopyLow4(const uint8_t* field8, uint8_t* to) { std::copy(field8 + 4, field8 + 8, to); }

SenseData FromDescriptorFormat(const uint8_t* sense, std::size_t length) {
  SenseData fixed{};
  fixed[0] = (sense[0] & 0x7F) == 0x73 ? 0x71 : 0x70;  // keep "deferred" apart from "current"
  fixed[2] = length > 1 ? sense[1] & 0x0F : 0;
  fixed[7] = 10;
  fixed[12] = length > 2 ? sense[2] : 0;
  fixed[13] = length > 3 ? sense[3] : 0;
  if (length <= 8) return fixed;
  const std::size_t end = std::min(length, std::size_t{8} + sense[7]);
  for (std::size_t at = 8; at + 2 <= end;) {
    const uint8_t type = sense[at];
    const std::size_t size = std::size_t{2} + sense[at + 1];
    if (at + size > end) break;
    const uint8_t* d = sense + at;
    if (type == kInformationDescriptor && size >= 12) {
      CopyLow4(d + 4, &fixed[3]);
      if (d[2] & 0x80) fixed[0] |= 0x80;
    } else if (type == kCommandInfoDescriptor && size >= 12) {
      CopyLow4(d + 4, &fixed[8]);
    } else if (type == kKeySpecificDescriptor && size >= 8) {
      std::copy(d + 4, d + 7, &fixed[15]);
    }
    at += size;
  }
  return fixed;
}

}  // namespace

SenseData ToFixedSense(const uint8_t* sense, std::size_t length) {
  SenseData fixed{};
  if (length == 0) return fixed;
  const uint8_t code = sense[0] & 0x7F;
  if (code == 0x72 || code == 0x73) return FromDescriptorFormat(sense, length);
  // Fixed format as it is; a format we do not know goes through raw, so that a
  // drive in its boot code keeps its key, ASC and progress bytes.
  std::copy(sense, sense + std::min(length, fixed.size()), fixed.begin());
  return fixed;
}

}  // namespace ofs
