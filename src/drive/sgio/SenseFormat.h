#pragma once
// Everything above the transport reads fixed-format sense; drives may answer in
// descriptor format.
#include <cstddef>
#include <cstdint>

#include "drive/TransportBackend.h"

namespace ofs {

// The first 18 bytes of fixed-format sense (0x70/0x71), or descriptor-format sense
// (0x72/0x73) rewritten into them; any other format raw; zeros when empty.
SenseData ToFixedSense(const uint8_t* sense, std::size_t length);

}  // namespace ofs
