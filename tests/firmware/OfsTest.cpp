#include "firmware/Ofs.h"

#include <gtest/gtest.h>

#include <cstring>

#include "firmware/OfsTestSupport.h"
#include "firmware/OfsBuilder.h"

namespace ofs {
namespace {

using build::BuildOfs;
using build::ExpectedFlat;
using build::MakeFlatImage;
using build::OfsLayout;
using test::Parse;
using test::PutLe32;

OfsLayout Ofs3Spec(std::vector<uint32_t> banks, uint32_t slot) {
  OfsLayout layout;
  layout.bankSizes = std::move(banks);
  layout.slotSize = slot;
  layout.reservedBlocks = {{0x10, 4}, {0x40, 8}};
  layout.kernelAddress = 0x20;
  layout.kernelLength = 0x10;
  return layout;
}

OfsLayout LegacySpec(char version, std::size_t banks, uint32_t bankLength) {
  OfsLayout layout;
  layout.version = version;
  layout.bankSizes.assign(banks, bankLength);
  return layout;
}

// A flat image whose legacy banks start with the 0x02 that scrambled banks descramble to.
std::vector<uint8_t> LegacyFlat(std::size_t banks) {
  std::vector<uint8_t> flat = MakeFlatImage(banks * 0x10000, 9, {});
  for (std::size_t i = 0; i < banks; ++i) flat[i * 0x10000] = 0x02;
  return flat;
}

TEST(OfsSize, ZerosGiveSizeZeroAndFailTheParse) {
  const std::vector<uint8_t> zeros(256, 0);
  EXPECT_EQ(GetFirmwareImageSize(zeros.data(), zeros.size()), 0u);
  const test::Parsed parsed = Parse(zeros, 16);
  EXPECT_FALSE(parsed.ok);
  EXPECT_TRUE(parsed.guardIntact);
}

TEST(OfsSize, SizeRuleNeedsNoMagic) {
  std::vector<uint8_t> bytes(64, 0);
  bytes[24] = '3';
  PutLe32(bytes, 36, 3);
  PutLe32(bytes, 40, 0x40000);
  EXPECT_EQ(GetFirmwareImageSize(bytes.data(), bytes.size()), 0xC0000u);
  EXPECT_FALSE(Parse(bytes, 0xC0000).ok);
  bytes[24] = '2';
  bytes[34] = 5;
  EXPECT_EQ(GetFirmwareImageSize(bytes.data(), bytes.size()), 5u * 0x10000);
}

TEST(OfsSize, ProductBeyondThirtyTwoBitsIsZero) {
  std::vector<uint8_t> bytes(64, 0);
  bytes[24] = '3';
  PutLe32(bytes, 36, 2);
  PutLe32(bytes, 40, 0x80000001);
  EXPECT_EQ(GetFirmwareImageSize(bytes.data(), bytes.size()), 0u);
}

TEST(OfsSize, ShortBufferReadsOnlyItsOwnBytes) {
  const std::vector<uint8_t> bytes = {'3'};
  EXPECT_EQ(GetFirmwareImageSize(bytes.data(), bytes.size()), 0u);
  EXPECT_FALSE(IsPhilipsImage(bytes.data(), bytes.size()));
}

TEST(OfsParse, MagicMustEndWithZeroAndVersionMustBeKnown) {
  std::vector<uint8_t> container = BuildOfs(Ofs3Spec({16}, 16), MakeFlatImage(16, 1, {}));
  ASSERT_TRUE(Parse(container).ok);
  std::vector<uint8_t> bad = container;
  bad[16] = 'X';
  EXPECT_FALSE(Parse(bad, 16).ok);
  bad = container;
  bad[3] = 'a';
  EXPECT_FALSE(Parse(bad, 16).ok);
  bad = container;
  bad[24] = '4';
  EXPECT_EQ(GetFirmwareImageSize(bad.data(), bad.size()), 0u);
  EXPECT_FALSE(Parse(bad, 16).ok);
}

TEST(OfsParse, Ofs3FieldsAndSlots) {
  const OfsLayout layout = Ofs3Spec({0x100, 0x40, 0x200}, 0x200);
  const std::vector<uint8_t> flat = MakeFlatImage(0x600, 3, {});
  const test::Parsed parsed = Parse(BuildOfs(layout, flat));
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.guardIntact);
  EXPECT_EQ(parsed.flat, ExpectedFlat(layout, flat));
  EXPECT_EQ(parsed.flat[0x100], 0) << "the rest of a short bank's slot stays zero";
  const SOFSParameter& p = parsed.parameter;
  EXPECT_EQ(p.IdeFlashType, 4);
  EXPECT_EQ(p.AtapiFlashType, 6);
  EXPECT_EQ(p.MaxBankSize, 0x200u);
  EXPECT_EQ(p.BankSizes, (std::vector<uint32_t>{0x100, 0x40, 0x200}));
  ASSERT_EQ(p.ReservedBlocks.size(), 2u);
  EXPECT_EQ(p.ReservedBlocks[1].Address, 0x40u);
  EXPECT_EQ(p.ReservedBlocks[1].Length, 8u);
  EXPECT_EQ(p.KernelBlockAddress, 0x20u);
  EXPECT_EQ(p.KernelBlockLength, 0x10u);
}

// Containers laid out byte by byte, apart from the builder, so that a field
// misplaced the same way in builder and parser still shows.
std::vector<uint8_t> HandMadeHeader(char version, uint8_t flag) {
  std::vector<uint8_t> bytes(17, 0);  // the magic and the 0x00 after it
  std::memcpy(bytes.data(), kOfsMagic, 16);
  bytes.resize(24, 0xCC);  // 17 to 23 are not read
  bytes.push_back(static_cast<uint8_t>(version));
  bytes.push_back(flag);
  return bytes;
}

void AppendLe(std::vector<uint8_t>& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

TEST(OfsParse, Ofs3FieldsSitAtTheirOffsets) {
  std::vector<uint8_t> c = HandMadeHeader('3', 2);
  c.insert(c.end(), {0x04, 0x06, 3, 5, 7, 11});  // IDE type, ATAPI type, key parameters: key 5
  AppendLe(c, 0xBEEF, 2);                        // 32: header checksum
  c.insert(c.end(), {0x02, 0x99});               // 34: kernel type; 35 is not read
  AppendLe(c, 2, 4);                             // 36: bank count
  AppendLe(c, 8, 4);                             // 40: slot size
  AppendLe(c, 1, 4);                             // 44: reserved block count
  AppendLe(c, 0x11223344, 4);                    // 48: kernel block address
  AppendLe(c, 0x55667788, 4);                    // 52: kernel block length
  AppendLe(c, 8, 4);                             // 56: bank lengths
  AppendLe(c, 3, 4);
  AppendLe(c, 0x01020304, 4);  // 64: reserved block
  AppendLe(c, 0x05060708, 4);
  ASSERT_EQ(c.size(), 72u);
  c.resize(72 + 8 + 3, 0);  // stored zeros descramble to the key pattern 57 * p + key

  const test::Parsed parsed = Parse(c);
  ASSERT_TRUE(parsed.ok);
  const SOFSParameter& p = parsed.parameter;
  EXPECT_EQ(p.HeaderCheckSum, 0xBEEF);
  EXPECT_EQ(p.IdeFlashType, 4);
  EXPECT_EQ(p.AtapiFlashType, 6);
  EXPECT_EQ(p.AtapiFlashKernelType, 2);
  EXPECT_EQ(p.MaxBankSize, 8u);
  EXPECT_EQ(p.BankSizes, (std::vector<uint32_t>{8, 3}));
  ASSERT_EQ(p.ReservedBlocks.size(), 1u);
  EXPECT_EQ(p.ReservedBlocks[0].Address, 0x01020304u);
  EXPECT_EQ(p.ReservedBlocks[0].Length, 0x05060708u);
  EXPECT_EQ(p.KernelBlockAddress, 0x11223344u);
  EXPECT_EQ(p.KernelBlockLength, 0x55667788u);
  EXPECT_EQ(parsed.flat, (std::vector<uint8_t>{5, 62, 119, 176, 233, 34, 91, 148, 5, 62, 119, 0, 0, 0, 0, 0}));
}

TEST(OfsParse, LegacyFieldsSitAtTheirOffsets) {
  std::vector<uint8_t> c = HandMadeHeader('1', 1);
  c.insert(c.end(), 6, 0x77);  // 26 to 31 are not read
  AppendLe(c, 0x1234, 2);      // 32: header checksum
  AppendLe(c, 2, 2);           // 34: bank count
  AppendLe(c, 4, 2);           // 36: bank lengths
  AppendLe(c, 2, 2);
  c.resize(64, 0xDD);  // up to the body, not read
  // Each bank's key is its first stored byte + 2: 0x12, then 0xFE + 2 = 0x00.
  c.insert(c.end(), {0x10, 0x00, 0x00, 0x00, 0xFE, 0x01});

  const test::Parsed parsed = Parse(c);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.parameter.HeaderCheckSum, 0x1234);
  EXPECT_EQ(parsed.parameter.BankSizes, (std::vector<uint32_t>{4, 2}));
  std::vector<uint8_t> expected(2 * 0x10000, 0);
  const uint8_t bank0[] = {0x02, 0x4B, 0x84, 0xBD};
  std::copy(std::begin(bank0), std::end(bank0), expected.begin());
  expected[0x10000] = 0x02;
  expected[0x10001] = 0x38;
  EXPECT_EQ(parsed.flat, expected);
}

TEST(OfsParse, Ofs3WithoutReservedBlocksAndKeepsPhilipsFields) {
  OfsLayout layout = Ofs3Spec({32}, 32);
  layout.reservedBlocks.clear();
  SOFSParameter start;
  start.ReservedBlocks = {{1, 2}};
  start.NameText = "kept";
  start.TrailerWord = 0x1234;
  const test::Parsed parsed = Parse(BuildOfs(layout, MakeFlatImage(32, 4, {})), std::nullopt, start);
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.parameter.ReservedBlocks.empty());
  EXPECT_EQ(parsed.parameter.NameText, "kept");
  EXPECT_EQ(parsed.parameter.TrailerWord, 0x1234);
}

class LegacyBankCount : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(LegacyBankCount, BodyStartsAfterTheTableRoom) {
  const auto [banks, bodyOffset] = GetParam();
  const OfsLayout layout = LegacySpec('1', banks, 0x20);
  const std::vector<uint8_t> flat = LegacyFlat(banks);
  std::vector<uint8_t> container = BuildOfs(layout, flat);
  ASSERT_EQ(container.size(), bodyOffset + banks * 0x20);
  // Bytes between the length table and the body are never read.
  for (std::size_t i = 36 + 2 * banks; i < bodyOffset; ++i) container[i] = 0xA5;
  const test::Parsed parsed = Parse(container);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.flat, ExpectedFlat(layout, flat));
}

INSTANTIATE_TEST_SUITE_P(Ofs, LegacyBankCount,
                         ::testing::Values(std::pair<std::size_t, std::size_t>{1, 64}, std::pair{8, 64},
                                           std::pair{9, 112}, std::pair{38, 112}));

TEST(OfsParse, LegacyHasFixedBlocksWhateverBytes26To31Hold) {
  std::vector<uint8_t> container = BuildOfs(LegacySpec(' ', 3, 0x10), LegacyFlat(3));
  for (std::size_t i = 26; i < 32; ++i) container[i] = 0x77;
  const test::Parsed parsed = Parse(container);
  ASSERT_TRUE(parsed.ok);
  const SOFSParameter& p = parsed.parameter;
  EXPECT_EQ(p.IdeFlashType, 1);
  EXPECT_EQ(p.AtapiFlashType, 1);
  EXPECT_EQ(p.AtapiFlashKernelType, 0);
  EXPECT_EQ(p.MaxBankSize, 0x10000u);
  EXPECT_EQ(p.KernelBlockLength, 0u);
  ASSERT_EQ(p.ReservedBlocks.size(), 2u);
  EXPECT_EQ(p.ReservedBlocks[0].Address, 0x1FD00u);
  EXPECT_EQ(p.ReservedBlocks[0].Length, 0x300u);
  EXPECT_EQ(p.ReservedBlocks[1].Address, 0x2F800u);
  EXPECT_EQ(p.ReservedBlocks[1].Length, 0x800u);
}

TEST(OfsParse, LegacyScrambledBankAlwaysStartsWithTwo) {
  std::vector<uint8_t> container = BuildOfs(LegacySpec('2', 2, 0x40), LegacyFlat(2));
  for (uint8_t first : {0x00, 0x7F, 0xFE, 0xFF}) {
    container[64] = first;
    const test::Parsed parsed = Parse(container);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.flat[0], 0x02) << "stored first byte " << int(first);
  }
}

struct FlagCase {
  char version;
  uint8_t flag;
  bool scrambled;
};

class ScrambleFlag : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ScrambleFlag, MeaningDependsOnVersion) {
  const FlagCase c = GetParam();
  OfsLayout layout = c.version == '3' ? Ofs3Spec({0x80, 0x80}, 0x80) : LegacySpec(c.version, 2, 0x80);
  layout.scrambled = c.scrambled;
  layout.scrambleFlag = c.flag;
  const std::vector<uint8_t> flat = c.version == '3' ? MakeFlatImage(0x100, 5, {}) : LegacyFlat(2);
  const test::Parsed parsed = Parse(BuildOfs(layout, flat));
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.flat, ExpectedFlat(layout, flat));
}

INSTANTIATE_TEST_SUITE_P(Ofs, ScrambleFlag,
                         ::testing::Values(FlagCase{'3', 2, true}, FlagCase{'3', 1, false}, FlagCase{'3', 0, false},
                                           FlagCase{' ', 1, true}, FlagCase{'1', 1, true}, FlagCase{'2', 1, true},
                                           FlagCase{'2', 2, false}, FlagCase{' ', 0, false}));

struct KeyCase {
  std::array<uint8_t, 4> parameters;
  uint8_t key;
};

class Ofs3Key : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Ofs3Key, IsBuiltFromTheFourParameters) {
  // A plain zero body behind flag 2 descrambles to the key pattern itself.
  OfsLayout layout = Ofs3Spec({16, 16}, 16);
  layout.scrambled = false;
  layout.scrambleFlag = 2;
  layout.keyParameters = GetParam().parameters;
  const test::Parsed parsed = Parse(BuildOfs(layout, std::vector<uint8_t>(32, 0)));
  ASSERT_TRUE(parsed.ok);
  const uint8_t key = GetParam().key;
  EXPECT_EQ(parsed.flat[0], key);
  EXPECT_EQ(parsed.flat[16], key) << "every bank starts afresh with the key";
  EXPECT_EQ(parsed.flat[8], static_cast<uint8_t>(key * 35));
}

// key = ((p1 - p2) * p0 + p3) mod 256
INSTANTIATE_TEST_SUITE_P(Ofs, Ofs3Key,
                         ::testing::Values(KeyCase{{3, 5, 7, 11}, 5}, KeyCase{{0x11, 0x22, 0x05, 0x33}, 0x20},
                                           KeyCase{{0xFF, 0x00, 0xFF, 0x00}, 0xFF}, KeyCase{{0, 9, 1, 0x42}, 0x42}));

class TruncatedContainer : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TruncatedContainer, FailsWithoutReadingOrWritingOutside) {
  // 3 banks and 2 reserved blocks: tables end at 84, body at 84 + 0x60.
  const std::vector<uint8_t> full = BuildOfs(Ofs3Spec({0x20, 0x20, 0x20}, 0x20), MakeFlatImage(0x60, 6, {}));
  ASSERT_EQ(full.size(), 84u + 0x60);
  const std::vector<uint8_t> cut(full.begin(), full.begin() + GetParam());
  const test::Parsed parsed = Parse(cut, 0x60);
  EXPECT_FALSE(parsed.ok);
  EXPECT_TRUE(parsed.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(Ofs, TruncatedContainer, ::testing::Values(0, 17, 25, 40, 55, 60, 67, 70, 83, 84, 100, 179));

TEST(OfsParse, LegacyTableOrBodyPastTheInputFails) {
  const std::vector<uint8_t> full = BuildOfs(LegacySpec(' ', 9, 0x10), LegacyFlat(9));
  for (std::size_t length : {30, 40, 53, 60, 111, 112, 200, static_cast<int>(full.size()) - 1}) {
    const test::Parsed parsed = Parse({full.begin(), full.begin() + length}, 9 * 0x10000);
    EXPECT_FALSE(parsed.ok) << length;
    EXPECT_TRUE(parsed.guardIntact) << length;
  }
}

TEST(OfsParse, BankLongerThanItsSlotFails) {
  std::vector<uint8_t> container = BuildOfs(Ofs3Spec({0x40, 0x40}, 0x40), MakeFlatImage(0x80, 7, {}));
  PutLe32(container, 40, 0x3F);
  const test::Parsed parsed = Parse(container, 0x80);
  EXPECT_FALSE(parsed.ok);
  EXPECT_TRUE(parsed.guardIntact);
}

TEST(OfsParse, BankLandingPastTheFlatImageFails) {
  const std::vector<uint8_t> container = BuildOfs(Ofs3Spec({0x40, 0x40}, 0x40), MakeFlatImage(0x80, 7, {}));
  const test::Parsed parsed = Parse(container, 0x7F);
  EXPECT_FALSE(parsed.ok);
  EXPECT_TRUE(parsed.guardIntact);
  EXPECT_EQ(parsed.flat, std::vector<uint8_t>(0x7F, 0)) << "nothing is written before the whole layout fits";
}

TEST(OfsParse, SlotOffsetBeyondThirtyTwoBitsFails) {
  // 2 x 0x80000001 wraps to 2 in 32 bits; bank 1 would land 2 GiB past a 2-byte flat image.
  std::vector<uint8_t> container = BuildOfs(Ofs3Spec({1, 1}, 1), {0x11, 0x22});
  PutLe32(container, 40, 0x80000001);
  const test::Parsed parsed = Parse(container, 2);
  EXPECT_FALSE(parsed.ok);
  EXPECT_TRUE(parsed.guardIntact);
}

TEST(PhilipsParse, ReadsNameBodyAndTrailerAndKeepsOtherFields) {
  const std::vector<uint8_t> body = MakeFlatImage(100, 8, {});
  const std::string name(36, 'P');
  std::vector<uint8_t> image = build::BuildPhilips("Philips" + name, body, 0xBEEF, 0x0102, true);
  SOFSParameter start;
  start.AtapiFlashType = 9;
  start.BankSizes = {5};
  const test::Parsed parsed = Parse(image, std::nullopt, start);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.flat, body);
  EXPECT_EQ(parsed.parameter.NameText, "Philips" + std::string(29, 'P')) << "36 characters without a 0x00";
  EXPECT_EQ(parsed.parameter.HeaderCheckSum, 0xBEEF);
  EXPECT_EQ(parsed.parameter.TrailerWord, 0x0102);
  EXPECT_EQ(parsed.parameter.AtapiFlashType, 9);
  EXPECT_EQ(parsed.parameter.BankSizes, std::vector<uint32_t>{5});

  const test::Parsed shortName = Parse(build::BuildPhilips("Philips CD", body, 1, 2, true));
  EXPECT_EQ(shortName.parameter.NameText, "Philips CD");
}

TEST(PhilipsParse, BadLengthsFail) {
  const std::vector<uint8_t> image = build::BuildPhilips("Philips", std::vector<uint8_t>(20, 1), 1, 2, true);
  std::vector<uint8_t> bad = image;
  bad[3] = 39;  // L below 40
  EXPECT_FALSE(Parse(bad, 64).ok);
  bad = image;
  bad.pop_back();  // second trailer word cut short
  EXPECT_FALSE(Parse(bad, 64).ok);
  const test::Parsed tooSmall = Parse(image, 19);
  EXPECT_FALSE(tooSmall.ok);
  EXPECT_TRUE(tooSmall.guardIntact);
}

TEST(OfsNames, FlashTypeLabels) {
  EXPECT_EQ(AtapiFlashTypeName(0), "Not support");
  EXPECT_EQ(AtapiFlashTypeName(3), "MTK2 Type");
  EXPECT_EQ(AtapiFlashTypeName(6), "MTK5 Type");
  EXPECT_EQ(AtapiFlashTypeName(8), "MTK7 Type");
  EXPECT_EQ(AtapiFlashTypeName(9), "");
  EXPECT_EQ(IdeFlashTypeName(3), "ALI2 Type");
  EXPECT_EQ(IdeFlashTypeName(4), "MTK2 Type");
  EXPECT_EQ(IdeFlashTypeName(5), "");
}

}  // namespace
}  // namespace ofs
