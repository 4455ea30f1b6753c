// Flash type 2 (block sums), the two-bank procedure, Philips images and the
// choice of procedure by flash type.
#include <gtest/gtest.h>

#include <numeric>

#include "ScriptedDrive.h"
#include "flash/FlashProcedures.h"

namespace ofs::test {
namespace {

uint16_t Sum(const uint8_t* from, std::size_t n) {
  return static_cast<uint16_t>(std::accumulate(from, from + n, 0u));
}

TEST(FlashBlockSums, NumbersBlocksAndNamesBanks) {
  FlashHarness h;
  h.image = PatternImage(5 * 16384 + 100);  // the partial block is not sent
  auto ctx = h.Context();

  EXPECT_EQ(FlashBlockSums(ctx, 0), std::nullopt);

  const auto blocks = h.With(0xFD);
  ASSERT_EQ(blocks.size(), 5u);
  const uint16_t imageSum = Sum(h.image.data(), h.image.size());
  for (uint32_t i = 0; i < 5; ++i) {
    const auto& c = blocks[i];
    EXPECT_EQ(CdbHex(c.cdb).substr(0, 12), "fd0756494441");
    EXPECT_EQ(c.cdb[6] << 8 | c.cdb[7], Sum(h.image.data() + i * 16384, 16384));
    EXPECT_EQ(c.cdb[8] << 8 | c.cdb[9], imageSum);
    EXPECT_EQ(c.cdb[10], i + 1);
    EXPECT_EQ(c.cdb[11], 5);
    EXPECT_TRUE(std::equal(c.dataOut.begin(), c.dataOut.end(), h.image.begin() + i * 16384));
    EXPECT_EQ(c.dataOut.size(), 16384u);
  }
  const std::vector<std::string> all(h.view.allLines.begin() + 3, h.view.allLines.end());
  EXPECT_EQ(all, (std::vector<std::string>{"Flash Bank: 0 Address: 3FFFh", "Flash Bank: 0 Address: 7FFFh",
                                           "Flash Bank: 0 Address: BFFFh", "Flash Bank: 0 Address: FFFFh",
                                           "Flash Bank: 1 Address: 3FFFh"}));
  EXPECT_EQ(h.view.lines.size(), 3u);  // each new line replaces the oldest
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{16384, 32768, 49152, 65536, 16384}));
  EXPECT_EQ(h.OpcodeTrail().back(), "00");
}

// A block the drive refused is not in it; any other failure is left to the ready wait.
TEST(FlashBlockSums, RefusedBlockEndsTheFlashOtherFailuresAreLeftToTheReadyWait) {
  for (const uint8_t key : {uint8_t{5}, uint8_t{6}}) {
    FlashHarness h;
    h.image = PatternImage(2 * 16384);
    h.drive.failWhen = [key](const RecordedCommand& c) -> std::optional<Sense3> {
      if (c.cdb[0] == 0xFD) return Sense3{key, 0x24, 0};
      return std::nullopt;
    };
    h.drive.tur = {MakeSense(2, 0x04, 0x01)};
    auto ctx = h.Context();
    const bool refused = key == 5;
    EXPECT_EQ(FlashBlockSums(ctx, 0), refused ? "Write Buffer Fail !" : "Wait Drive Ready TimeOut !\n");
    EXPECT_EQ(h.With(0xFD).size(), refused ? 1u : 2u);
    EXPECT_EQ(h.With(0x00).empty(), refused);
  }
}

TEST(FlashTwoBanks, RefusedBufferWriteOrSaveEndsTheFlashALostSaveStatusDoesNot) {
  FlashHarness h;
  h.image = PatternImage(2 * 65536);
  uint8_t saveKey = 6;
  h.drive.failWhen = [&saveKey](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] == 0x3B && c.cdb[1] == 0x07) return Sense3{saveKey, 0x20, 0};
    return std::nullopt;
  };
  auto ctx = h.Context();
  EXPECT_EQ(FlashTwoBanks(ctx, 0), std::nullopt);  // the drive may drop a save's status as it starts programming
  saveKey = 5;
  h.backend->commands.clear();
  EXPECT_EQ(FlashTwoBanks(ctx, 0), "Write Buffer Fail !");
  EXPECT_EQ(h.backend->commands.size(), 5u);  // bank 1's blocks and its save; nothing of bank 0
  h.drive.failWhen = [](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] == 0x3B && c.cdb[1] == 0x06 && c.cdb[4] == 0x40) return Sense3{5, 0x20, 0};
    return std::nullopt;
  };
  h.backend->commands.clear();
  EXPECT_EQ(FlashTwoBanks(ctx, 0), "Write Buffer Fail !");
  EXPECT_EQ(h.backend->commands.size(), 2u);
}

TEST(FlashTwoBanks, SendsHighBankFirstAndZerosPastAShortImage) {
  FlashHarness h;
  h.image = PatternImage(70000);
  auto ctx = h.Context();

  EXPECT_EQ(FlashTwoBanks(ctx, 0), std::nullopt);

  const auto& cmds = h.backend->commands;
  ASSERT_EQ(cmds.size(), 11u);
  const char* expected[] = {"3b06000100000040000000", "3b06000140000040000000", "3b06000180000040000000",
                            "3b060001c0000040000000", "3b0700010000000000000000",
                            "3b06000000000040000000", "3b06000040000040000000", "3b06000080000040000000",
                            "3b060000c0000040000000", "3b0700000000000000000000"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(CdbHex(cmds[i].cdb).substr(0, std::string(expected[i]).size()), expected[i]);
  EXPECT_EQ(cmds[4].direction, kDirNone);
  EXPECT_EQ(cmds[10].cdb[0], 0x00);
  // Bank 1 holds the last 4464 image bytes, then zeros.
  EXPECT_TRUE(std::equal(h.image.begin() + 65536, h.image.end(), cmds[0].dataOut.begin()));
  EXPECT_TRUE(std::all_of(cmds[0].dataOut.begin() + 4464, cmds[0].dataOut.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(cmds[3].dataOut.begin(), cmds[3].dataOut.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(cmds[6].dataOut.begin(), cmds[6].dataOut.end(), h.image.begin() + 16384));
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{0, 8192, 16384, 24576, 32768, 40960, 49152, 57344, 65536}));
  EXPECT_TRUE(h.view.allLines.empty());
}

class PhilipsImage : public ::testing::Test {
 protected:
  PhilipsImage() { h.image = PatternImage(5 * 16384 - 40); }
  FlashResult Run(std::optional<Sense3> failBlock, int blockIndex) {
    h.drive.failWhen = [=](const RecordedCommand& c) -> std::optional<Sense3> {
      if (c.cdb[0] == 0xFA && c.cdb[5] == blockIndex) return failBlock;
      return std::nullopt;
    };
    auto ctx = h.Context();
    return FlashPhilipsImage(ctx, 0, 5, 0x1234, 0xABCD);
  }
  FlashHarness h;
};

TEST_F(PhilipsImage, SendsEveryBlockAndWaitsTwentySeconds) {
  EXPECT_EQ(Run(std::nullopt, 0), std::nullopt);
  const auto blocks = h.With(0xFA);
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(CdbHex(blocks[2].cdb), "fa3412cdab02013412cdab05");
  // The last block reaches past the image: zeros stand in for the missing bytes.
  EXPECT_TRUE(std::equal(h.image.begin() + 4 * 16384, h.image.end(), blocks[4].dataOut.begin()));
  EXPECT_TRUE(std::all_of(blocks[4].dataOut.end() - 40, blocks[4].dataOut.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{16384, 32768}));
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(20000));
  EXPECT_TRUE(h.view.allLines.empty());
}

// The drive may reboot into the new firmware while it takes the last block, but
// a last block it refused is not in it.
TEST_F(PhilipsImage, LastBlockFailureIsIgnoredUnlessRefused) {
  EXPECT_EQ(Run(Sense3{6, 0x29, 0}, 4), std::nullopt);
  EXPECT_EQ(Run(Sense3{5, 0x24, 0}, 4), "Firmware update failure (05:24:00)");
}

TEST_F(PhilipsImage, EarlierBlockFailureNamesTheSense) {
  EXPECT_EQ(Run(Sense3{5, 0x24, 0}, 3), "Firmware update failure (05:24:00)");
  EXPECT_EQ(h.With(0xFA).size(), 4u);
  EXPECT_EQ(h.senseData[12], 0x24);
}

// The first wait only gives the drive time: its time-out ends nothing.
TEST_F(PhilipsImage, ADriveNotReadyAtTheFirstWaitIsFlashedAnyway) {
  h.drive.failWhen = [&](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] == 0x00 && h.clock.Now() < std::chrono::seconds(121)) return Sense3{2, 0x04, 0};
    return std::nullopt;
  };
  auto ctx = h.Context();
  EXPECT_EQ(FlashPhilipsImage(ctx, 0, 5, 0x1234, 0xABCD), std::nullopt);
  EXPECT_EQ(h.With(0xFA).size(), 5u);
}

TEST_F(PhilipsImage, FailureTextShowsTheWholeSenseByte) {
  EXPECT_EQ(Run(Sense3{0x25, 0x26, 0x01}, 0), "Firmware update failure (25:26:01)");
}

// What tells the procedures apart: the first command, the number of vendor
// bank commands and the commit's sub-function.
std::string Signature(const FlashHarness& h) {
  const auto banks = h.With(0x5A, 5, 0xA0);
  return CdbHex(h.backend->commands.at(0).cdb).substr(0, 12) + "/" + std::to_string(banks.size()) + "/" +
         (banks.empty() ? std::string("-") : std::to_string(banks.back().cdb[6]));
}

class FlashByTypeSelection : public ::testing::TestWithParam<std::pair<int, const char*>> {};

TEST_P(FlashByTypeSelection, PicksTheProcedure) {
  FlashHarness h;
  h.image = PatternImage(2 * 65536);
  h.parameter.AtapiFlashType = static_cast<uint8_t>(GetParam().first);
  h.parameter.MaxBankSize = 65536;
  h.parameter.BankSizes = {100, 100};
  auto ctx = h.Context();

  EXPECT_EQ(FlashByType(ctx, 0), std::nullopt);
  EXPECT_EQ(Signature(h), GetParam().second);
}

constexpr char kBankWrite[] = "5a00384f52a3/3/4";
constexpr char kTwoBanks[] = "3b0600010000/0/-";
INSTANTIATE_TEST_SUITE_P(Types, FlashByTypeSelection,
                         ::testing::Values(std::pair{0, kTwoBanks}, std::pair{1, kBankWrite},
                                           std::pair{2, "fd0756494441/0/-"}, std::pair{3, kBankWrite},
                                           std::pair{4, "5a00384f52a3/3/5"}, std::pair{5, kBankWrite},
                                           std::pair{6, "3b0101000000/0/-"}, std::pair{7, "5a00384f52a3/5/4"},
                                           std::pair{8, kTwoBanks}, std::pair{255, kTwoBanks}));

}  // namespace
}  // namespace ofs::test
