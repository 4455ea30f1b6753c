// Any bytes as the profile text of the simulated drives.
#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/sim/SimProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const ofs::SimProfileResult result = ofs::ParseSimProfile(std::string(reinterpret_cast<const char*>(data), size));
  // A profile or a reason, never neither.
  if (!result.profile && result.error.empty()) __builtin_trap();
  return 0;
}
