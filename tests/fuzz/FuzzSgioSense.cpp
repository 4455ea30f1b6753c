// Any bytes as the sense data a drive or the kernel hands back through SG_IO.
#include <cstddef>
#include <cstdint>

#include "drive/sgio/SenseFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const ofs::SenseData fixed = ofs::ToFixedSense(data, size);
  // Fixed-format sense is what the conversion produces, so it must come out unchanged.
  if (ofs::ToFixedSense(fixed.data(), fixed.size()) != fixed) __builtin_trap();
  return 0;
}
