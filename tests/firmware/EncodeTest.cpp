#include "firmware/Encode.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace ofs {
namespace {

// Byte-at-a-time form of the transform, kept apart from the table-driven one.
std::vector<uint8_t> Reference(std::vector<uint8_t> bytes, uint8_t key) {
  uint8_t k = key;
  for (std::size_t p = 0; p < bytes.size(); ++p) {
    bytes[p] = static_cast<uint8_t>(57 * (p % 8) + k - bytes[p]);
    if (p % 8 == 7) k = static_cast<uint8_t>(k * 35);
  }
  return bytes;
}

std::vector<uint8_t> Counting(std::size_t length) {
  std::vector<uint8_t> bytes(length);
  std::iota(bytes.begin(), bytes.end(), uint8_t{7});
  return bytes;
}

class ScrambleLengths : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ScrambleLengths, MatchesByteRuleAndTwiceRestoresInput) {
  for (int key : {0, 1, 0x2A, 0x80, 0xFF}) {
    const std::vector<uint8_t> input = Counting(GetParam());
    std::vector<uint8_t> bytes = input;
    ScrambleBytes(bytes.data(), bytes.size(), static_cast<uint8_t>(key));
    EXPECT_EQ(bytes, Reference(input, static_cast<uint8_t>(key))) << "key " << key;
    ScrambleBytes(bytes.data(), bytes.size(), static_cast<uint8_t>(key));
    EXPECT_EQ(bytes, input) << "key " << key;
  }
}

// Around the 8-byte key step and the 512-byte repeat of the key sequence.
INSTANTIATE_TEST_SUITE_P(Encode, ScrambleLengths, ::testing::Values(1, 7, 8, 9, 511, 512, 513, 1024, 4099, 70000));

TEST(Encode, LengthZeroChangesNothing) {
  uint8_t byte = 0x5A;
  ScrambleBytes(&byte, 0, 0x33);
  EXPECT_EQ(byte, 0x5A);
}

TEST(Encode, KeyChangesOnlyAtMultiplesOfEight) {
  // Zeros show the additive pattern: 57 * (p mod 8) + k, k multiplied by 35 after each 8 bytes.
  std::vector<uint8_t> bytes(24, 0);
  ScrambleBytes(bytes.data(), bytes.size(), 3);
  const uint8_t keys[3] = {3, 105, static_cast<uint8_t>(105 * 35)};
  for (std::size_t p = 0; p < bytes.size(); ++p)
    EXPECT_EQ(bytes[p], static_cast<uint8_t>(57 * (p % 8) + keys[p / 8])) << "position " << p;
}

TEST(Encode, DifferentKeysDifferFromTheFirstByte) {
  std::vector<uint8_t> a(16, 0x10), b(16, 0x10);
  ScrambleBytes(a.data(), a.size(), 1);
  ScrambleBytes(b.data(), b.size(), 2);
  for (std::size_t p = 0; p < 8; ++p) EXPECT_EQ(static_cast<uint8_t>(b[p] - a[p]), 1);
  EXPECT_EQ(static_cast<uint8_t>(b[8] - a[8]), 35);
}

}  // namespace
}  // namespace ofs
