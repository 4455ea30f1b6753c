// Any bytes as the parameter buffer's text area.
#include <cstddef>
#include <cstdint>
#include <span>

#include "params/Parameter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ofs::SParameter parameter;
  ofs::ReadParameterBlock(std::span<const uint8_t>(data, size), parameter);
  return 0;
}
