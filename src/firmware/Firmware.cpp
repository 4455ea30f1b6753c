#include "firmware/Firmware.h"

#include <algorithm>
#include <cstring>
#include <optional>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ofs {

namespace {

constexpr std::size_t kTailLength = 8;  // type 6 keeps its own checksum in the last 8 bytes
constexpr uint8_t kTailFlashType = 6;
constexpr uint8_t kSecondTemplateFlashType = 7;

uint32_t ByteSum(const uint8_t* data, std::size_t length) {
  uint32_t sum = 0;
  std::size_t i = 0;
#ifdef __SSE2__
  // psadbw adds 16 bytes per instruction; the images are megabytes and summed often.
  __m128i lanes = _mm_setzero_si128();
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= length; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    lanes = _mm_add_epi64(lanes, _mm_sad_epu8(bytes, zero));
  }
  sum = static_cast<uint32_t>(_mm_cvtsi128_si64(lanes) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(lanes, lanes)));
#endif
  for (; i < length; ++i) sum += data[i];
  return sum;
}

// Sum of the bytes of [address, address + blockLength) that lie below limit.
uint32_t BlockSum(const uint8_t* image, std::size_t limit, uint64_t address, uint64_t blockLength) {
  if (address >= limit) return 0;
  return ByteSum(image + address, std::min<uint64_t>(blockLength, limit - address));
}

bool HasTail(std::size_t length, const SOFSParameter& parameter) {
  return parameter.AtapiFlashType == kTailFlashType && length >= kTailLength;
}

// Text of a fixed-width field: ends at its first 0x00 and at the end of the image.
std::string FieldText(const uint8_t* image, std::size_t length, std::size_t offset, std::size_t width) {
  if (offset >= length) return {};
  const uint8_t* begin = image + offset;
  const uint8_t* end = begin + std::min(width, length - offset);
  return std::string(begin, std::find(begin, end, 0));
}

bool ReadsBoot(const uint8_t* image, std::size_t length, std::size_t templateOffset) {
  return templateOffset + 36 <= length && std::memcmp(image + templateOffset + 32, "BOOT", 4) == 0;
}

std::optional<std::size_t> ChooseTemplate(const uint8_t* image, std::size_t length, bool secondOnly) {
  const std::vector<std::size_t> templates = FindInquiryTemplates(image, length);
  if (secondOnly) return templates.size() >= 2 ? std::optional(templates[1]) : std::nullopt;
  if (templates.empty()) return std::nullopt;
  if (templates.size() >= 2 && ReadsBoot(image, length, templates[0])) return templates[1];
  return templates[0];
}

std::string TemplateField(const uint8_t* image, std::size_t length, bool secondOnly, std::size_t offset,
                          std::size_t width) {
  const std::optional<std::size_t> chosen = ChooseTemplate(image, length, secondOnly);
  return chosen ? FieldText(image, length, *chosen + offset, width) : std::string();
}

}  // namespace

uint32_t ComputeImageCheckSum(const uint8_t* image, std::size_t length, const SOFSParameter& parameter) {
  uint32_t sum = ByteSum(image, length);
  if (HasTail(length, parameter)) sum -= ByteSum(image + length - kTailLength, kTailLength);
  return sum;
}

uint16_t ComputeFixedDataCheckSum(const uint8_t* image, std::size_t length, const SOFSParameter& parameter) {
  uint32_t sum = ComputeImageCheckSum(image, length, parameter);
  const std::size_t limit = HasTail(length, parameter) ? length - kTailLength : length;
  sum -= BlockSum(image, limit, parameter.KernelBlockAddress, parameter.KernelBlockLength);
  for (const SOFSReserveBlock& block : parameter.ReservedBlocks) sum -= BlockSum(image, limit, block.Address, block.Length);
  return static_cast<uint16_t>(sum);
}

uint16_t ComputePhilipsCheckSum(const uint8_t* image, std::size_t length) {
  return static_cast<uint16_t>(ByteSum(image, length));
}

std::vector<std::size_t> FindInquiryTemplates(const uint8_t* image, std::size_t length) {
  std::vector<std::size_t> templates;
  if (length < 3) return templates;
  const uint8_t* const last = image + length - 2;  // a hit needs two bytes after its 0x05
  for (const uint8_t* p = image; p < last; ++p) {
    p = static_cast<const uint8_t*>(std::memchr(p, 0x05, last - p));
    if (p == nullptr) break;
    if (p[1] == 0x80 && p[2] == 0x00) templates.push_back(p - image);
  }
  return templates;
}

std::string GetImageModelName(const uint8_t* image, std::size_t length) {
  return TemplateField(image, length, false, 8, 24);
}

std::string GetImageFirmwareVersion(const uint8_t* image, std::size_t length, uint8_t atapiFlashType) {
  return TemplateField(image, length, atapiFlashType == kSecondTemplateFlashType, 32, 4);
}

std::string GetImageHardwareId(const uint8_t* image, std::size_t length) {
  return TemplateField(image, length, false, 38, 2);
}

std::string GetImageInquiryExtension(const uint8_t* image, std::size_t length, uint8_t atapiFlashType) {
  const std::optional<std::size_t> chosen =
      ChooseTemplate(image, length, atapiFlashType == kSecondTemplateFlashType);
  if (!chosen) return {};
  const std::size_t t = *chosen;
  if (t >= 12 && image[t - 12] == 'D' && image[t - 11] == 'C') return FieldText(image, length, t - 10, 6);
  return FieldText(image, length, t + 40, 6);
}

}  // namespace ofs
