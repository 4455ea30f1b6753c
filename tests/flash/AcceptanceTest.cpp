// The acceptance check and its rejection texts.
#include <gtest/gtest.h>

#include "firmware/Firmware.h"
#include "flash/Flashknl.h"
#include "firmware/OfsBuilder.h"

namespace ofs {
namespace {

TEST(SelectErrorMessages, FillsOrEmptiesTheTable) {
  ErrorMessages m;
  SelectErrorMessages(m, false);
  EXPECT_EQ(m[kMsgLoadOfsFail], "Load OFS Fail!");
  EXPECT_EQ(m[kMsgCheckSumError], "Check Sum Error!");
  EXPECT_EQ(m[kMsgDriveUnavailable], "This drive is unavailble!");
  SelectErrorMessages(m, true);
  for (const std::string& text : m.entries) EXPECT_EQ(text, "");
}

class CheckImage : public ::testing::Test {
 protected:
  CheckImage() {
    build::InquiryTemplate t;
    t.offset = 0x2000;
    t.vendor = "ORVA";
    t.product = "KZR-3350P2";
    image = build::MakeFlatImage(0x10000, 7, {t});
    parameter.MaxBankSize = 0x10000;
    parameter.BankSizes = {0x10000};
    parameter.HeaderCheckSum = static_cast<uint16_t>(ComputeImageCheckSum(image.data(), image.size(), parameter));
    SelectErrorMessages(messages, false);
  }
  std::optional<std::string> Check(bool sum, bool model) {
    return CheckImageForDrive(messages, image.data(), image.size(), parameter, sum, model, models);
  }
  std::vector<uint8_t> image;
  SOFSParameter parameter;
  ErrorMessages messages;
  std::vector<std::string> models{"OTHER   DRIVE", "ORVA    KZR-3350P2      and more"};
};

TEST_F(CheckImage, BothTestsOffAcceptsAnything) {
  parameter.HeaderCheckSum ^= 0xFFFF;
  models.clear();
  EXPECT_EQ(Check(false, false), std::nullopt);
}

TEST_F(CheckImage, ModelMatchesOverTwentyFourCharacters) {
  EXPECT_EQ(Check(false, true), std::nullopt);
  models = {"ORVA    KZR-3350P"};
  EXPECT_EQ(Check(false, true), "This drive is unavailble!");
}

TEST_F(CheckImage, ChecksumDifferingInLowBitsIsRejected) {
  EXPECT_EQ(Check(true, true), std::nullopt);
  parameter.HeaderCheckSum ^= 1;
  EXPECT_EQ(Check(true, false), "Check Sum Error!");
  SelectErrorMessages(messages, true);
  EXPECT_EQ(Check(true, false), "");  // silent: still rejected
}

}  // namespace
}  // namespace ofs
