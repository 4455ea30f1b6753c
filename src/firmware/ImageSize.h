#pragma once
// The flat-image size a container asks for, within reason.
#include <cstddef>
#include <cstdint>

#include "firmware/Ofs.h"

namespace ofs {

// No drive's flash comes near this. A header that claims more (a damaged file, or any bytes
// with "3" at offset 24) must not make the program allocate and zero gigabytes before the
// parser rejects it.
inline constexpr uint32_t kMaxImageBytes = 64u * 1024 * 1024;
// A file to load carries the flat image and a header with small tables, no more; a larger
// file is refused by its size before it is read.
inline constexpr uint32_t kMaxFileBytes = kMaxImageBytes + 1024 * 1024;

// GetFirmwareImageSize, with 0 (no usable image) for a size above kMaxImageBytes.
inline uint32_t PlausibleImageSize(const uint8_t* image, std::size_t length) {
  const uint32_t size = GetFirmwareImageSize(image, length);
  return size <= kMaxImageBytes ? size : 0;
}

}  // namespace ofs
