#pragma once
#include <cstddef>
#include <cstdint>

namespace ofs {

// Keyed byte transform of container bodies; applying it twice restores the input.
void ScrambleBytes(uint8_t* buffer, std::size_t length, uint8_t key);

}  // namespace ofs
