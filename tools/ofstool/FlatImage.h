#pragma once
// Flat images for ofstool's commands: a header may describe a large, mostly empty
// image (N x S), so the buffer comes zeroed from calloc and is touched only where
// banks land; an impossible size is a null result, not an exception.
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace ofstool {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using FlatImage = std::unique_ptr<uint8_t[], FreeDeleter>;

// One spare byte so that an empty image still has an address.
inline FlatImage AllocateFlatImage(std::size_t length) {
  return FlatImage(static_cast<uint8_t*>(std::calloc(length + 1, 1)));
}

}  // namespace ofstool
