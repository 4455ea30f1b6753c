#pragma once
// Whether an embedded area's data makes a working image: one judgement for start-up,
// for ofsmerge before it fills an area, and for ofstool embedded.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "firmware/Ofs.h"

namespace ofs {

struct EmbeddedImage {
  std::string problem;  // empty when the image is usable
  SOFSParameter parameter;
  std::unique_ptr<uint8_t[]> flat;  // the parsed flat image
  uint32_t flatLength = 0;
};

// data: the area's bytes, or a payload as it will lie at the area's start. philips: the
// CVT area, whose image carries its big-endian length in front; otherwise a container.
EmbeddedImage ReadEmbeddedImage(std::span<const uint8_t> data, bool philips);

}  // namespace ofs
