#pragma once
// The five data areas inside the program file that ofsmerge fills after the build.
#include <cstdint>
#include <span>

namespace ofs {

struct EmbeddedAreas {
  std::span<const uint8_t> cvt;        // Philips image with its length in front
  std::span<const uint8_t> ofs3[3];    // OFS3 FILE BUFFER, BUFFER2, BUFFER3
  std::span<const uint8_t> parameter;  // parameter text, bounded by the parameter capacity
};

// This executable's own areas, located through their header-length bytes.
EmbeddedAreas ProgramEmbeddedAreas();

}  // namespace ofs
