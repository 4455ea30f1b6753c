#include "firmware/Firmware.h"

#include <gtest/gtest.h>

#include <numeric>

#include "firmware/OfsBuilder.h"

namespace ofs {
namespace {

using build::InquiryTemplate;
using build::MakeFlatImage;

SOFSParameter WithType(uint8_t atapiFlashType, std::vector<SOFSReserveBlock> blocks = {}, uint32_t kernelAddress = 0,
                       uint32_t kernelLength = 0) {
  SOFSParameter p;
  p.AtapiFlashType = atapiFlashType;
  p.ReservedBlocks = std::move(blocks);
  p.KernelBlockAddress = kernelAddress;
  p.KernelBlockLength = kernelLength;
  return p;
}

std::vector<uint8_t> Ones(std::size_t length) { return std::vector<uint8_t>(length, 1); }

TEST(Checksum, AllZeroImage) {
  const std::vector<uint8_t> zeros(0x1000, 0);
  const SOFSParameter p = WithType(6, {{0x10, 0x20}}, 0x100, 0x10);
  EXPECT_EQ(ComputeImageCheckSum(zeros.data(), zeros.size(), p), 0u);
  EXPECT_EQ(ComputeFixedDataCheckSum(zeros.data(), zeros.size(), p), 0u);
  EXPECT_TRUE(FindInquiryTemplates(zeros.data(), zeros.size()).empty());
}

TEST(Checksum, ImageSumIsThirtyTwoBitsWide) {
  const std::vector<uint8_t> image(0x20000, 0xFF);
  EXPECT_EQ(ComputeImageCheckSum(image.data(), image.size(), WithType(1)), 0x20000u * 0xFF);
  EXPECT_EQ(ComputeFixedDataCheckSum(image.data(), image.size(), WithType(1)), (0x20000u * 0xFF) & 0xFFFF);
}

struct TailCase {
  uint8_t type;
  std::size_t length;
  uint32_t sum;
};

class Type6Tail : public ::testing::TestWithParam<TailCase> {};

TEST_P(Type6Tail, LastEightBytesLeftOutOnlyForType6) {
  const TailCase c = GetParam();
  const std::vector<uint8_t> image = Ones(c.length);
  EXPECT_EQ(ComputeImageCheckSum(image.data(), image.size(), WithType(c.type)), c.sum);
  EXPECT_EQ(ComputeFixedDataCheckSum(image.data(), image.size(), WithType(c.type)), c.sum);
}

INSTANTIATE_TEST_SUITE_P(Firmware, Type6Tail,
                         ::testing::Values(TailCase{6, 8, 0}, TailCase{6, 7, 7}, TailCase{6, 100, 92},
                                           TailCase{5, 8, 8}, TailCase{7, 100, 100}, TailCase{6, 0, 0}));

struct BlockCase {
  const char* name;
  uint8_t type;
  std::vector<SOFSReserveBlock> blocks;
  uint32_t kernelAddress, kernelLength;
  uint16_t expected;  // over 100 bytes of 0x01
};

class FixedDataBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(FixedDataBlocks, SubtractsEachBlockIndependently) {
  const BlockCase& c = GetParam();
  const std::vector<uint8_t> image = Ones(100);
  EXPECT_EQ(ComputeFixedDataCheckSum(image.data(), image.size(), WithType(c.type, c.blocks, c.kernelAddress,
                                                                           c.kernelLength)),
            c.expected)
      << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, FixedDataBlocks,
    ::testing::Values(BlockCase{"disjoint", 1, {{0, 10}, {50, 5}}, 20, 4, 81},
                      BlockCase{"reserved blocks overlap by one byte", 1, {{0, 10}, {9, 10}}, 0, 0, 80},
                      BlockCase{"kernel inside a reserved block", 1, {{10, 20}}, 15, 5, 75},
                      BlockCase{"type 6 block over the tail counts once", 6, {{90, 10}}, 0, 0, 90},
                      BlockCase{"type 6 kernel over the tail", 6, {}, 88, 50, 88},
                      BlockCase{"block reaching past the image", 1, {{95, 0x1000}}, 0, 0, 95},
                      BlockCase{"block starting past the image", 1, {{200, 10}}, 0xFFFFFFF0, 0x20, 100},
                      BlockCase{"block wrapping 32 bits", 1, {{0xFFFFFFFF, 0xFFFFFFFF}}, 0, 0, 100}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(Checksum, LegacyFixedBlocksAreLeftOut) {
  const std::vector<uint8_t> image = Ones(3 * 0x10000);
  SOFSParameter p = WithType(1, {{0x1FD00, 0x300}, {0x2F800, 0x800}});
  EXPECT_EQ(ComputeFixedDataCheckSum(image.data(), image.size(), p), static_cast<uint16_t>(3 * 0x10000 - 0xB00));
}

TEST(Checksum, PhilipsSumIsSixteenBits) {
  const std::vector<uint8_t> body(0x200, 0xFF);
  EXPECT_EQ(ComputePhilipsCheckSum(body.data(), body.size()), static_cast<uint16_t>(0x200 * 0xFF));
}

InquiryTemplate At(std::size_t offset, std::string revision = "1.00") {
  InquiryTemplate t;
  t.offset = offset;
  t.revision = std::move(revision);
  t.hardwareId = "H" + t.revision.substr(0, 1);
  t.extension = "EXT" + t.revision.substr(0, 3);
  return t;
}

TEST(Templates, FoundInAscendingOrderUpToTheLastByte) {
  std::vector<uint8_t> image = MakeFlatImage(0x400, 2, {At(0x300), At(0x10)});
  image[0x3FD] = 0x05;
  image[0x3FE] = 0x80;
  image[0x3FF] = 0x00;
  EXPECT_EQ(FindInquiryTemplates(image.data(), image.size()), (std::vector<std::size_t>{0x10, 0x300, 0x3FD}));
  EXPECT_EQ(FindInquiryTemplates(image.data(), 0x3FF), (std::vector<std::size_t>{0x10, 0x300}));
}

struct ChoiceCase {
  const char* name;
  std::vector<std::string> revisions;  // one template per entry, in image order
  uint8_t type;
  std::string version;    // expected firmware version
  std::string model;      // expected model name ("" when none)
};

class TemplateChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(TemplateChoice, BootRuleAndType7) {
  const ChoiceCase& c = GetParam();
  std::vector<InquiryTemplate> templates;
  for (std::size_t i = 0; i < c.revisions.size(); ++i) templates.push_back(At(0x100 + 0x100 * i, c.revisions[i]));
  const std::vector<uint8_t> image = MakeFlatImage(0x800, 3, templates);
  EXPECT_EQ(GetImageFirmwareVersion(image.data(), image.size(), c.type), c.version) << c.name;
  EXPECT_EQ(GetImageModelName(image.data(), image.size()), c.model) << c.name;
  const std::string ext = c.version.empty() ? "" : "EXT" + c.version.substr(0, 3);
  EXPECT_EQ(GetImageInquiryExtension(image.data(), image.size(), c.type), ext) << c.name;
}

const std::string kModel = "ORVA    KZR-3350P2      ";

INSTANTIATE_TEST_SUITE_P(
    Firmware, TemplateChoice,
    ::testing::Values(ChoiceCase{"none", {}, 6, "", ""},
                      ChoiceCase{"single BOOT is chosen", {"BOOT"}, 6, "BOOT", kModel},
                      ChoiceCase{"first BOOT takes the second", {"BOOT", "2.00", "3.00"}, 6, "2.00", kModel},
                      ChoiceCase{"neither BOOT takes the first", {"1.00", "2.00"}, 6, "1.00", kModel},
                      ChoiceCase{"second BOOT is not skipped", {"1.00", "BOOT"}, 6, "1.00", kModel},
                      ChoiceCase{"type 7 takes the second", {"1.00", "2.00"}, 7, "2.00", kModel},
                      ChoiceCase{"type 7 ignores the rule", {"BOOT", "2.00", "3.00"}, 7, "2.00", kModel},
                      ChoiceCase{"type 7 with one template", {"1.00"}, 7, "", kModel}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(Templates, HardwareIdFollowsTheBootRule) {
  const std::vector<uint8_t> image = MakeFlatImage(0x400, 4, {At(0x40, "BOOT"), At(0x200, "9.99")});
  EXPECT_EQ(GetImageHardwareId(image.data(), image.size()), "H9");
}

TEST(Templates, DcMarkerMovesTheExtension) {
  InquiryTemplate t = At(0x100);
  t.dcExtension = "DCX123";
  const std::vector<uint8_t> image = MakeFlatImage(0x400, 5, {t});
  EXPECT_EQ(GetImageInquiryExtension(image.data(), image.size(), 6), "DCX123");

  std::vector<uint8_t> onlyD = image;
  onlyD[0x100 - 11] = 'X';
  EXPECT_EQ(GetImageInquiryExtension(onlyD.data(), onlyD.size(), 6), "EXT1.0");
}

TEST(Templates, DcRuleNeedsTwelveBytesBefore) {
  std::vector<uint8_t> image = MakeFlatImage(0x100, 6, {At(12)});
  image[0] = 'D';
  image[1] = 'C';
  std::copy_n("ABCDEF", 6, image.begin() + 2);
  EXPECT_EQ(GetImageInquiryExtension(image.data(), image.size(), 6), "ABCDEF");

  image = MakeFlatImage(0x100, 6, {At(11)});
  image[0] = 'C';  // t - 11; t - 12 would lie before the image
  EXPECT_EQ(GetImageInquiryExtension(image.data(), image.size(), 6), "EXT1.0");
}

TEST(Templates, FieldsStopAtZeroAndAtTheImageEnd) {
  InquiryTemplate t = At(0x100 - 36);
  t.vendor = "AB";
  std::vector<uint8_t> image = MakeFlatImage(0x100, 7, {t});
  image[0x100 - 36 + 10] = 0;  // ends the model text after "AB"
  EXPECT_EQ(GetImageModelName(image.data(), image.size()), "AB");
  EXPECT_EQ(GetImageFirmwareVersion(image.data(), image.size(), 6), "1.00");
  EXPECT_EQ(GetImageFirmwareVersion(image.data(), image.size() - 2, 6), "1.");
  EXPECT_EQ(GetImageHardwareId(image.data(), image.size() - 2), "");
  EXPECT_EQ(GetImageInquiryExtension(image.data(), image.size(), 6), "");
}

TEST(Templates, ModelKeepsTrailingSpaces) {
  InquiryTemplate t = At(0x20);
  t.product = "KZR-3350QAT";
  const std::vector<uint8_t> image = MakeFlatImage(0x100, 8, {t});
  EXPECT_EQ(GetImageModelName(image.data(), image.size()), "ORVA    KZR-3350QAT     ");
}

TEST(Templates, AnInquiryHeadWithoutItsZeroIsNoTemplate) {
  std::vector<uint8_t> image = MakeFlatImage(0x800, 3, {At(0x300, "2.00")});
  image[0x10] = 0x05;
  image[0x11] = 0x80;
  image[0x12] = 0x01;
  EXPECT_EQ(GetImageModelName(image.data(), image.size()), kModel);
  EXPECT_EQ(GetImageFirmwareVersion(image.data(), image.size(), 6), "2.00");
}

}  // namespace
}  // namespace ofs
