#include "firmware/EmbeddedImage.h"

#include <cstdio>

#include "firmware/ImageSize.h"

namespace ofs {
namespace {

// The length field of a Philips image counts its 36-byte name and 4-byte length too.
constexpr uint32_t kPhilipsLengthOverhead = 40;

EmbeddedImage Unusable(std::string problem) {
  EmbeddedImage image;
  image.problem = std::move(problem);
  return image;
}

}  // namespace

EmbeddedImage ReadEmbeddedImage(std::span<const uint8_t> data, bool philips) {
  if (philips && !IsPhilipsImage(data.data(), data.size())) return Unusable("not a Philips image");
  const uint32_t size = GetFirmwareImageSize(data.data(), data.size());
  if (size == 0) return Unusable("the image size is 0");
  if (size > kMaxImageBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "the image size 0x%X exceeds the limit of 64 MiB", size);
    return Unusable(text);
  }
  if (philips && size <= kPhilipsLengthOverhead) return Unusable("the Philips image has no body");
  EmbeddedImage image;
  image.flatLength = philips ? size - kPhilipsLengthOverhead : size;
  image.flat = std::make_unique<uint8_t[]>(image.flatLength);  // zero-filled
  if (!ParseFirmwareImage(data.data(), data.size(), image.parameter, image.flat.get(), image.flatLength))
    return Unusable("the container does not parse");
  return image;
}

}  // namespace ofs
