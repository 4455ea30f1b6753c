// Any bytes as a firmware container: size rule, parser, then every checksum and
// identification reader over the flat image the parser filled.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "firmware/Firmware.h"
#include "firmware/Ofs.h"

namespace {

// Large enough for several bank slots and the legacy reserved blocks at 0x2F800;
// the readers run the same code on larger images, only slower.
constexpr uint32_t kMaxFlatBytes = 256 * 1024;

void ParseAndIdentify(const uint8_t* image, std::size_t length) {
  const bool philips = ofs::IsPhilipsImage(image, length);
  uint32_t flatLength = ofs::GetFirmwareImageSize(image, length);
  if (philips) flatLength = flatLength >= 40 ? flatLength - 40 : 0;
  if (flatLength == 0 || flatLength > kMaxFlatBytes) return;

  std::vector<uint8_t> flat(flatLength, 0);
  ofs::SOFSParameter parameter;
  // File loading goes on whatever the parser answered, so the readers below run either way.
  ofs::ParseFirmwareImage(image, length, parameter, flat.data(), flat.size());

  const uint8_t* f = flat.data();
  ofs::ComputeImageCheckSum(f, flatLength, parameter);
  ofs::ComputeFixedDataCheckSum(f, flatLength, parameter);
  ofs::ComputePhilipsCheckSum(f, flatLength);
  ofs::FindInquiryTemplates(f, flatLength);
  ofs::GetImageModelName(f, flatLength);
  ofs::GetImageFirmwareVersion(f, flatLength, parameter.AtapiFlashType);
  ofs::GetImageHardwareId(f, flatLength);
  ofs::GetImageInquiryExtension(f, flatLength, parameter.AtapiFlashType);
  ofs::IdeFlashTypeName(parameter.IdeFlashType);
  ofs::AtapiFlashTypeName(parameter.AtapiFlashType);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ParseAndIdentify(data, size);
  // A Philips file on disk lacks the length the loader puts in front of it.
  if (size >= 7 && std::memcmp(data, "Philips", 7) == 0) {
    std::vector<uint8_t> withLength(size + 4);
    const uint32_t n = static_cast<uint32_t>(size);
    withLength[0] = static_cast<uint8_t>(n >> 24);
    withLength[1] = static_cast<uint8_t>(n >> 16);
    withLength[2] = static_cast<uint8_t>(n >> 8);
    withLength[3] = static_cast<uint8_t>(n);
    std::memcpy(withLength.data() + 4, data, size);
    ParseAndIdentify(withLength.data(), withLength.size());
  }
  return 0;
}
