#include "firmware/Ofs.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>

#include "firmware/Bytes.h"
#include "firmware/Encode.h"

namespace ofs {

namespace {

using bytes::Be;
using bytes::Le;

constexpr std::size_t kMagicLength = 16;
constexpr std::size_t kVersionOffset = 24;
constexpr std::size_t kFlagOffset = 25;
constexpr std::size_t kLegacyHeaderLength = 36;
constexpr std::size_t kOfs3HeaderLength = 56;
constexpr uint32_t kLegacySlot = 0x10000;
constexpr std::size_t kPhilipsHeaderLength = 40;
constexpr std::size_t kPhilipsNameLength = 36;

bool IsLegacyVersion(uint8_t version) { return version == ' ' || version == '1' || version == '2'; }

// Where the banks of one container lie, checked against both buffers before
// anything is written, so a failed parse leaves the flat image untouched.
struct BankPlan {
  uint64_t cursor = 0;
  uint64_t slot = 0;
  std::vector<uint32_t> sizes;
};

bool Fits(const BankPlan& plan, std::size_t length, std::size_t flatLength) {
  uint64_t cursor = plan.cursor;
  if (cursor > length) return false;
  for (std::size_t i = 0; i < plan.sizes.size(); ++i) {
    const uint64_t size = plan.sizes[i];
    if (size > plan.slot || cursor + size > length || i * plan.slot + size > flatLength) return false;
    cursor += size;
  }
  return true;
}

// fixedKey: the one OFS3 key; without it every bank is keyed by its first stored byte.
void PlaceBanks(const uint8_t* image, const BankPlan& plan, bool descramble, std::optional<uint8_t> fixedKey,
                uint8_t* flat) {
  uint64_t cursor = plan.cursor;
  for (std::size_t i = 0; i < plan.sizes.size(); ++i) {
    const uint32_t size = plan.sizes[i];
    uint8_t* bank = flat + i * plan.slot;
    std::memcpy(bank, image + cursor, size);
    if (descramble && size > 0) {
      const uint8_t key = fixedKey ? *fixedKey : static_cast<uint8_t>(image[cursor] + 2);
      ScrambleBytes(bank, size, key);
    }
    cursor += size;
  }
}

bool ParsePhilips(const uint8_t* image, std::size_t length, SOFSParameter& parameter, uint8_t* flat,
                  std::size_t flatLength) {
  const uint64_t trailer = Be(image, length, 0, 4);
  if (trailer < kPhilipsHeaderLength || trailer + 4 > length || trailer - kPhilipsHeaderLength > flatLength)
    return false;
  parameter.HeaderCheckSum = static_cast<uint16_t>(Be(image, length, trailer, 2));
  parameter.TrailerWord = static_cast<uint16_t>(Be(image, length, trailer + 2, 2));
  const uint8_t* name = image + 4;
  const std::size_t nameLength = std::find(name, name + kPhilipsNameLength, 0) - name;
  parameter.NameText.assign(reinterpret_cast<const char*>(name), nameLength);
  std::memcpy(flat, image + kPhilipsHeaderLength, trailer - kPhilipsHeaderLength);
  return true;
}

bool ParseLegacy(const uint8_t* image, std::size_t length, SOFSParameter& parameter, uint8_t* flat,
                 std::size_t flatLength) {
  if (length < kLegacyHeaderLength) return false;
  const uint32_t count = Le(image, length, 34, 2);
  if (kLegacyHeaderLength + 2ull * count > length) return false;
  BankPlan plan;
  plan.cursor = count <= 8 ? 64 : 112;
  plan.slot = kLegacySlot;
  for (uint32_t i = 0; i < count; ++i) plan.sizes.push_back(Le(image, length, kLegacyHeaderLength + 2ull * i, 2));
  if (!Fits(plan, length, flatLength)) return false;

  parameter.HeaderCheckSum = static_cast<uint16_t>(Le(image, length, 32, 2));
  parameter.IdeFlashType = 1;
  parameter.AtapiFlashType = 1;
  parameter.AtapiFlashKernelType = 0;
  parameter.ReservedBlocks = {{0x1FD00, 0x300}, {0x2F800, 0x800}};
  parameter.KernelBlockAddress = 0;
  parameter.KernelBlockLength = 0;
  parameter.MaxBankSize = kLegacySlot;
  parameter.BankSizes = plan.sizes;
  PlaceBanks(image, plan, image[kFlagOffset] == 1, std::nullopt, flat);
  return true;
}

bool ParseOfs3(const uint8_t* image, std::size_t length, SOFSParameter& parameter, uint8_t* flat,
               std::size_t flatLength) {
  if (length < kOfs3HeaderLength) return false;
  const uint64_t count = Le(image, length, 36, 4);
  const uint64_t reservedCount = Le(image, length, 44, 4);
  const uint64_t reservedOffset = kOfs3HeaderLength + 4 * count;
  BankPlan plan;
  plan.cursor = reservedOffset + 8 * reservedCount;
  if (plan.cursor > length) return false;
  plan.slot = Le(image, length, 40, 4);
  for (uint64_t i = 0; i < count; ++i) plan.sizes.push_back(Le(image, length, kOfs3HeaderLength + 4 * i, 4));
  if (!Fits(plan, length, flatLength)) return false;

  parameter.HeaderCheckSum = static_cast<uint16_t>(Le(image, length, 32, 2));
  parameter.IdeFlashType = image[26];
  parameter.AtapiFlashType = image[27];
  parameter.AtapiFlashKernelType = image[34];
  parameter.ReservedBlocks.resize(reservedCount);
  for (uint64_t i = 0; i < reservedCount; ++i) {
    parameter.ReservedBlocks[i].Address = Le(image, length, reservedOffset + 8 * i, 4);
    parameter.ReservedBlocks[i].Length = Le(image, length, reservedOffset + 8 * i + 4, 4);
  }
  parameter.MaxBankSize = static_cast<uint32_t>(plan.slot);
  parameter.KernelBlockAddress = Le(image, length, 48, 4);
  parameter.KernelBlockLength = Le(image, length, 52, 4);
  parameter.BankSizes = plan.sizes;
  const uint8_t p0 = image[28], p1 = image[29], p2 = image[30], p3 = image[31];
  const auto key = static_cast<uint8_t>((p1 - p2) * p0 + p3);
  PlaceBanks(image, plan, image[kFlagOffset] == 2, key, flat);
  return true;
}

}  // namespace

bool IsPhilipsImage(const uint8_t* image, std::size_t length) {
  return length >= 11 && std::memcmp(image + 4, "Philips", 7) == 0;
}

uint32_t GetFirmwareImageSize(const uint8_t* image, std::size_t length) {
  if (IsPhilipsImage(image, length)) return Be(image, length, 0, 4);
  const uint8_t version = bytes::At(image, length, kVersionOffset);
  if (version == '3') {
    const uint64_t size = uint64_t{Le(image, length, 36, 4)} * Le(image, length, 40, 4);
    // A product that does not fit 32 bits describes no real flash: treat it as empty.
    return size <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(size) : 0;
  }
  if (IsLegacyVersion(version)) return Le(image, length, 34, 2) * kLegacySlot;
  return 0;
}

bool ParseFirmwareImage(const uint8_t* image, std::size_t length, SOFSParameter& parameter, uint8_t* flat,
                        std::size_t flatLength) {
  if (IsPhilipsImage(image, length)) return ParsePhilips(image, length, parameter, flat, flatLength);
  if (length <= kVersionOffset || std::memcmp(image, kOfsMagic, kMagicLength) != 0 || image[kMagicLength] != 0)
    return false;
  const uint8_t version = image[kVersionOffset];
  if (IsLegacyVersion(version)) return ParseLegacy(image, length, parameter, flat, flatLength);
  if (version == '3') return ParseOfs3(image, length, parameter, flat, flatLength);
  return false;
}

std::string IdeFlashTypeName(uint8_t code) {
  static constexpr std::array<const char*, 5> kNames{"Not support", "MTK Type", "ALI Type", "ALI2 Type",
                                                     "MTK2 Type"};
  return code < kNames.size() ? kNames[code] : "";
}

std::string AtapiFlashTypeName(uint8_t code) {
  static constexpr std::array<const char*, 9> kNames{"Not support", "MTK Type",  "ALI Type",
                                                     "MTK2 Type",   "MTK3 Type", "MTK4 Type",
                                                     "MTK5 Type",   "MTK6 Type", "MTK7 Type"};
  return code < kNames.size() ? kNames[code] : "";
}

}  // namespace ofs
