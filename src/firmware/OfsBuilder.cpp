#include "firmware/OfsBuilder.h"

#include <algorithm>
#include <cstring>

#include "firmware/Encode.h"
#include "firmware/Firmware.h"
#include "firmware/Ofs.h"

namespace ofs::build {

namespace {

constexpr uint32_t kLegacySlot = 0x10000;
constexpr uint32_t kLegacyMaxBank = 0xFFFF;
constexpr std::size_t kLegacyMaxBanks = 38;
constexpr std::size_t kTemplateLength = 46;
constexpr std::size_t kPhilipsNameLength = 36;
constexpr uint8_t kTemplateHead[8] = {0x05, 0x80, 0x00, 0x32, 0x1F, 0x00, 0x00, 0x00};

bool IsOfs3(const OfsLayout& layout) { return layout.version == '3'; }

uint32_t SlotOf(const OfsLayout& layout) { return IsOfs3(layout) ? layout.slotSize : kLegacySlot; }

uint8_t ScrambleFlagOf(const OfsLayout& layout) {
  if (layout.scrambleFlag) return *layout.scrambleFlag;
  if (!layout.scrambled) return 0;
  return IsOfs3(layout) ? 2 : 1;
}

void PutLe(std::vector<uint8_t>& out, std::size_t offset, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutBe(std::vector<uint8_t>& out, std::size_t offset, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

// Writes text padded with pad to width, clipped to the image.
void PutField(std::vector<uint8_t>& image, std::size_t offset, const std::string& text, std::size_t width,
              char pad) {
  for (std::size_t i = 0; i < width && offset + i < image.size(); ++i)
    image[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : pad);
}

void PlaceTemplate(std::vector<uint8_t>& image, const InquiryTemplate& t) {
  for (std::size_t i = 0; i < sizeof kTemplateHead && t.offset + i < image.size(); ++i)
    image[t.offset + i] = kTemplateHead[i];
  PutField(image, t.offset + 8, t.vendor, 8, ' ');
  PutField(image, t.offset + 16, t.product, 16, ' ');
  PutField(image, t.offset + 32, t.revision, 4, ' ');
  PutField(image, t.offset + 36, "", 2, ' ');
  PutField(image, t.offset + 38, t.hardwareId, 2, ' ');
  PutField(image, t.offset + 40, t.extension, 6, ' ');
  if (t.dcExtension && t.offset >= 12) {
    PutField(image, t.offset - 12, "DC", 2, ' ');
    PutField(image, t.offset - 10, *t.dcExtension, 6, ' ');
  }
}

std::size_t HeaderLength(const OfsLayout& layout, std::size_t bankCount) {
  if (IsOfs3(layout)) return 56 + 4 * bankCount + 8 * layout.reservedBlocks.size();
  return bankCount <= 8 ? 64 : 112;
}

void WriteOfs3Fields(const OfsLayout& layout, const std::vector<uint32_t>& sizes, std::vector<uint8_t>& out) {
  out[26] = layout.ideFlashType;
  out[27] = layout.atapiFlashType;
  std::copy(layout.keyParameters.begin(), layout.keyParameters.end(), out.begin() + 28);
  out[34] = layout.kernelType;
  PutLe(out, 36, static_cast<uint32_t>(sizes.size()), 4);
  PutLe(out, 40, layout.slotSize, 4);
  PutLe(out, 44, static_cast<uint32_t>(layout.reservedBlocks.size()), 4);
  PutLe(out, 48, layout.kernelAddress, 4);
  PutLe(out, 52, layout.kernelLength, 4);
  std::size_t offset = 56;
  for (uint32_t size : sizes) {
    PutLe(out, offset, size, 4);
    offset += 4;
  }
  for (const auto& [address, length] : layout.reservedBlocks) {
    PutLe(out, offset, address, 4);
    PutLe(out, offset + 4, length, 4);
    offset += 8;
  }
}

uint8_t Ofs3Key(const OfsLayout& layout) {
  const auto& p = layout.keyParameters;
  return static_cast<uint8_t>((p[1] - p[2]) * p[0] + p[3]);
}

// Legacy banks carry their key in their first stored byte (key - 2); any key works.
uint8_t LegacyKey(const OfsLayout& layout, std::size_t bank) {
  return static_cast<uint8_t>(layout.keyParameters[bank % 4] + 17 * bank);
}

uint16_t HeaderChecksumOf(const OfsLayout& layout, const std::vector<uint8_t>& expected) {
  if (layout.headerChecksum) return *layout.headerChecksum;
  SOFSParameter parameter;
  parameter.AtapiFlashType = IsOfs3(layout) ? layout.atapiFlashType : 1;
  return static_cast<uint16_t>(ComputeImageCheckSum(expected.data(), expected.size(), parameter));
}

}  // namespace

std::vector<uint8_t> MakeFlatImage(std::size_t length, uint32_t seed, const std::vector<InquiryTemplate>& templates) {
  std::vector<uint8_t> image(length);
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (uint8_t& byte : image) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
    // Keep the pattern free of template signatures and of a stray "DC" marker.
    if (byte == 0x05 || byte == 'D') byte ^= 0x01;
  }
  PlaceTemplates(image, templates);
  return image;
}

void PlaceTemplates(std::vector<uint8_t>& image, const std::vector<InquiryTemplate>& templates) {
  for (const InquiryTemplate& t : templates) PlaceTemplate(image, t);
}

std::vector<uint32_t> BankSizesFor(const OfsLayout& layout, std::size_t flatLength) {
  const uint32_t slot = SlotOf(layout);
  if (!layout.bankSizes.empty() || slot == 0) return layout.bankSizes;
  const uint32_t full = IsOfs3(layout) ? slot : kLegacyMaxBank;
  return std::vector<uint32_t>((flatLength + slot - 1) / slot, full);
}

std::vector<uint8_t> ExpectedFlat(const OfsLayout& layout, const std::vector<uint8_t>& flat) {
  const uint32_t slot = SlotOf(layout);
  const std::vector<uint32_t> sizes = BankSizesFor(layout, flat.size());
  std::vector<uint8_t> expected(sizes.size() * std::size_t{slot});
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::size_t start = i * std::size_t{slot};
    const std::size_t length = std::min<std::size_t>(sizes[i], slot);
    if (start >= flat.size()) break;
    std::copy_n(flat.begin() + start, std::min(length, flat.size() - start), expected.begin() + start);
  }
  return expected;
}

std::vector<uint8_t> BuildOfsHeader(const OfsLayout& layout, const std::vector<uint32_t>& sizes, uint16_t checksum) {
  std::vector<uint8_t> out(HeaderLength(layout, sizes.size()));
  std::memcpy(out.data(), kOfsMagic, 16);
  out[24] = static_cast<uint8_t>(layout.version);
  out[25] = ScrambleFlagOf(layout);
  PutLe(out, 32, checksum, 2);
  if (IsOfs3(layout)) {
    WriteOfs3Fields(layout, sizes, out);
  } else {
    PutLe(out, 34, static_cast<uint32_t>(sizes.size()), 2);
    for (std::size_t i = 0; i < sizes.size(); ++i) PutLe(out, 36 + 2 * i, sizes[i], 2);
  }
  return out;
}

std::vector<uint8_t> BuildOfs(const OfsLayout& layout, const std::vector<uint8_t>& flat) {
  const uint32_t slot = SlotOf(layout);
  const std::vector<uint32_t> sizes = BankSizesFor(layout, flat.size());
  if (!IsOfs3(layout) && sizes.size() > kLegacyMaxBanks) return {};
  for (uint32_t size : sizes)
    if (size > slot || (!IsOfs3(layout) && size > kLegacyMaxBank)) return {};

  const std::vector<uint8_t> expected = ExpectedFlat(layout, flat);
  std::vector<uint8_t> out = BuildOfsHeader(layout, sizes, HeaderChecksumOf(layout, expected));
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::size_t bankStart = out.size();
    const auto first = expected.begin() + i * std::size_t{slot};
    out.insert(out.end(), first, first + sizes[i]);
    if (!layout.scrambled || sizes[i] == 0) continue;
    const uint8_t key = IsOfs3(layout) ? Ofs3Key(layout) : LegacyKey(layout, i);
    ScrambleBytes(out.data() + bankStart, sizes[i], key);
    if (!IsOfs3(layout)) out[bankStart] = static_cast<uint8_t>(key - 2);
  }
  return out;
}

std::vector<uint8_t> BuildPhilips(const std::string& name, const std::vector<uint8_t>& body, uint16_t trailer1,
                                  uint16_t trailer2, bool withLength) {
  const std::size_t start = withLength ? 4 : 0;
  const std::size_t trailer = start + kPhilipsNameLength + body.size();
  std::vector<uint8_t> out(trailer + 4);
  if (withLength) PutBe(out, 0, static_cast<uint32_t>(40 + body.size()), 4);
  std::copy_n(name.begin(), std::min(name.size(), kPhilipsNameLength), out.begin() + start);
  std::copy(body.begin(), body.end(), out.begin() + start + kPhilipsNameLength);
  PutBe(out, trailer, trailer1, 2);
  PutBe(out, trailer + 2, trailer2, 2);
  return out;
}

}  // namespace ofs::build
