// Descriptor-format sense reaches the layers above in the fixed format they read;
// formats nobody knows reach them untouched.
#include <gtest/gtest.h>

#include <vector>

#include "drive/sgio/SenseFormat.h"

namespace ofs {
namespace {

SenseData Fixed(const std::vector<uint8_t>& sense) { return ToFixedSense(sense.data(), sense.size()); }

TEST(SenseFormat, FixedFormatIsCopied) {
  std::vector<uint8_t> sense(32);
  for (std::size_t i = 0; i < sense.size(); ++i) sense[i] = static_cast<uint8_t>(i);
  sense[0] = 0xF0;  // valid bit + current error
  const SenseData fixed = Fixed(sense);
  EXPECT_EQ(fixed[0], 0xF0);
  for (std::size_t i = 1; i < fixed.size(); ++i) EXPECT_EQ(fixed[i], i);
  // A short fixed-format sense fills only what it has.
  const SenseData shortOne = Fixed({0x70, 0x00, 0x06});
  EXPECT_EQ(shortOne[2], 0x06);
  EXPECT_EQ(shortOne[12], 0);
}

TEST(SenseFormat, DescriptorFormatIsRewritten) {
  const SenseData fixed = Fixed({0x72, 0x02, 0x04, 0x07, 0, 0, 0, 24,
                                 // information: VALID, 8-byte field whose low 4 bytes carry bank and progress
                                 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x00, 0x03, 0x12, 0x34,
                                 // sense-key specific
                                 0x02, 0x06, 0, 0, 0x80, 0x40, 0x00, 0,
                                 // an unknown descriptor that must be stepped over
                                 0x0B, 0x02, 0xFF, 0xFF});
  const SenseData expected = {0xF0, 0, 0x02, 0x00, 0x03, 0x12, 0x34, 10, 0, 0, 0, 0, 0x04, 0x07, 0, 0x80, 0x40, 0x00};
  EXPECT_EQ(fixed, expected);
}

TEST(SenseFormat, DeferredStaysDeferred) {
  const SenseData fixed = Fixed({0x73, 0x03, 0x0C, 0x00, 0, 0, 0, 0});
  EXPECT_EQ(fixed[0], 0x71);
  EXPECT_EQ(fixed[2], 0x03);
  EXPECT_EQ(fixed[12], 0x0C);
}

TEST(SenseFormat, TruncatedDescriptorsAreNotReadPastTheEnd) {
  // Additional length and descriptor length both claim more than was written.
  const SenseData fixed = Fixed({0x72, 0x05, 0x24, 0x00, 0, 0, 0, 200, 0x00, 0x0A, 0x80, 0});
  EXPECT_EQ(fixed[2], 0x05);
  EXPECT_EQ(fixed[12], 0x24);
  EXPECT_EQ(fixed[0], 0x70);  // the cut-off information descriptor was not taken
  EXPECT_EQ(Fixed({0x72, 0x05}), (SenseData{0x70, 0, 0x05, 0, 0, 0, 0, 10}));
}

TEST(SenseFormat, EmptyGivesZerosAndUnknownFormatsPassRaw) {
  EXPECT_EQ(ToFixedSense(nullptr, 0), SenseData{});
  // A drive in its boot code with an odd first byte keeps key, progress bank and ASC/ASCQ.
  std::vector<uint8_t> boot(20, 0);
  boot[0] = 0x00;
  boot[2] = 0x02;
  boot[4] = 0x11;
  boot[12] = 0x04;
  boot[13] = 0x08;
  const SenseData raw = Fixed(boot);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), std::vector<uint8_t>(boot.begin(), boot.begin() + 18));
  EXPECT_EQ(Fixed({0x7F, 0x05, 0x24}), (SenseData{0x7F, 0x05, 0x24}));
}

}  // namespace
}  // namespace ofs
