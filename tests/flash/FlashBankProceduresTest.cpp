// Flash types 1/3/5, 4 and 7: the bank commands, the commit, the zero padding,
// the refusals and the progress poll.
#include <gtest/gtest.h>

#include "ScriptedDrive.h"
#include "flash/FlashProcedures.h"

namespace ofs::test {
namespace {

constexpr char kBanner[] = "WARNING !!!";

std::string Hex(const RecordedCommand& c) { return CdbHex(c.cdb); }

// The vendor bank commands (data and commit) in order.
std::vector<RecordedCommand> BankCommands(const FlashHarness& h) { return h.With(0x5A, 5, 0xA0); }

TEST(FlashBankWrite, OddBankGetsItsZeroByteInsideItsSlot) {
  FlashHarness h;
  h.image = PatternImage(2 * 65536);
  h.parameter.MaxBankSize = 65536;
  h.parameter.BankSizes = {4097, 65534};
  h.parameter.HeaderCheckSum = 0xBEEF;
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWrite(ctx, 0), std::nullopt);

  const auto banks = BankCommands(h);
  ASSERT_EQ(banks.size(), 3u);
  EXPECT_EQ(Hex(banks[0]), "5a00384f52a00500100200" "00");
  ASSERT_EQ(banks[0].dataOut.size(), 4098u);
  EXPECT_EQ(banks[0].dataOut[4097], 0);
  EXPECT_EQ(h.image[4097], 0);
  EXPECT_NE(h.image[4098], 0);  // nothing past the pad byte is touched
  EXPECT_EQ(h.image[65536 + 65534], 0);  // an even bank gets its zero byte too, though it is not sent
  EXPECT_NE(h.image[65536 + 65535], 0);
  EXPECT_TRUE(std::equal(banks[0].dataOut.begin(), banks[0].dataOut.begin() + 4097, h.image.begin()));
  EXPECT_EQ(Hex(banks[1]), "5a00384f52a00501fffe0000");
  EXPECT_EQ(Hex(banks[2]), "5a00384f52a004e20080beef");
  EXPECT_EQ(banks[2].dataOut, std::vector<uint8_t>(h.image.begin(), h.image.begin() + 128));

  EXPECT_EQ(h.OpcodeTrail(), (std::vector<std::string>{"5a", "5a", "5a", "5a", "00"}));
  EXPECT_EQ(CdbHex(h.backend->commands[0].cdb), "5a00384f52a3000000000000");
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{21845, 43690, 65536}));
  EXPECT_EQ(h.view.lines, (std::vector<std::string>{kBanner, "Please wait for at least one minute!",
                                                     "Flashing is processing..."}));
}

TEST(FlashBankWrite, PadByteAtTheImageEndIsSentButNotWritten) {
  FlashHarness h;
  h.image = PatternImage(4097);  // exact size: ASan catches a write past it
  h.parameter.MaxBankSize = 65536;
  h.parameter.BankSizes = {4097};
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWrite(ctx, 0), std::nullopt);
  const auto banks = BankCommands(h);
  ASSERT_EQ(banks[0].dataOut.size(), 4098u);
  EXPECT_EQ(banks[0].dataOut.back(), 0);
}

TEST(FlashBankWrite, CappedTransfersAndCommitCode) {
  FlashHarness h;
  h.image = PatternImage(200000);
  h.parameter.MaxBankSize = 0x20000;
  h.parameter.HeaderCheckSum = 0x0102;
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWrite(ctx, 0), std::nullopt);

  const auto banks = BankCommands(h);
  ASSERT_EQ(banks.size(), 5u);
  const uint32_t lengths[] = {65534, 65534, 65534, 3392};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(banks[i].cdb[6], 5);
    EXPECT_EQ(banks[i].cdb[7], i);
    EXPECT_EQ(banks[i].cdb[8] << 8 | banks[i].cdb[9], lengths[i]);
    ASSERT_EQ(banks[i].dataOut.size(), lengths[i]);
    EXPECT_TRUE(std::equal(banks[i].dataOut.begin(), banks[i].dataOut.end(), h.image.begin() + i * 65536));
  }
  EXPECT_EQ(Hex(banks[4]), "5a00384f52a004e400800102");
}

TEST(FlashBankWrite, OddRestAndShortCommitAreFilledWithZeros) {
  FlashHarness h;
  h.image = PatternImage(101);
  h.parameter.MaxBankSize = 0x8000;
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWrite(ctx, 0), std::nullopt);
  const auto banks = BankCommands(h);
  ASSERT_EQ(banks.size(), 2u);
  ASSERT_EQ(banks[0].dataOut.size(), 102u);
  EXPECT_EQ(banks[0].dataOut[101], 0);
  ASSERT_EQ(banks[1].dataOut.size(), 128u);
  EXPECT_TRUE(std::equal(h.image.begin(), h.image.end(), banks[1].dataOut.begin()));
  EXPECT_TRUE(std::all_of(banks[1].dataOut.begin() + 101, banks[1].dataOut.end(), [](uint8_t b) { return b == 0; }));
}

TEST(FlashBankWrite, FailingBankStopsWithWriteBufferFail) {
  FlashHarness h;
  h.image = PatternImage(3 * 65536);
  h.parameter.MaxBankSize = 65536;
  h.parameter.BankSizes = {65534, 65534, 65534};
  h.drive.failWhen = [](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[5] == 0xA0 && c.cdb[7] == 1) return Sense3{5, 0x24, 0};
    return std::nullopt;
  };
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWrite(ctx, 0), "Write Buffer Fail !");
  EXPECT_EQ(BankCommands(h).size(), 2u);  // no third bank, no commit
}

// A commit the drive refuses is a failure, whatever the procedure; one whose status is lost is not.
TEST(FlashCommit, RefusedByTheDriveEndsTheFlashALostStatusDoesNot) {
  using Procedure = FlashResult (*)(FlashContext&, DriveIndex);
  for (Procedure flash : {Procedure{FlashBankWrite}, Procedure{FlashBankWritePolled}, Procedure{FlashHalfBankWrite}}) {
    for (const uint8_t key : {5, 6}) {
      FlashHarness h;
      h.image = PatternImage(65536);
      h.drive.failWhen = [key](const RecordedCommand& c) -> std::optional<Sense3> {
        if (c.cdb[0] == 0x5A && c.cdb[7] >= 0xE0) return Sense3{key, 0x24, 0};
        return std::nullopt;
      };
      auto ctx = h.Context();
      EXPECT_EQ(flash(ctx, 0), key == 5 ? FlashResult("Write Buffer Fail !") : std::nullopt);
      EXPECT_EQ(h.With(0x00).empty(), key == 5) << "the ready wait or poll follows only an accepted commit";
    }
  }
}

TEST(FlashBankWrite, ReadyTimeOutAfterCommit) {
  FlashHarness h;
  h.image = PatternImage(65536);
  h.parameter.MaxBankSize = 0x10000;
  h.parameter.BankSizes = {65534};
  h.drive.tur = {MakeSense(2, 0x04, 0x01)};
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWrite(ctx, 0), "Wait Drive Ready TimeOut !\n");
  EXPECT_GT(h.clock.Now(), std::chrono::seconds(120));
}

struct Refusal {
  const char* name;
  uint32_t imageLength;
  std::vector<uint32_t> bankSizes;
};

class BankWriteRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BankWriteRefusal, NothingIsSent) {
  for (auto procedure : {&FlashBankWrite, &FlashBankWritePolled}) {
    FlashHarness h;
    h.image = PatternImage(GetParam().imageLength);
    const auto before = h.image;
    h.parameter.MaxBankSize = 65536;
    h.parameter.BankSizes = GetParam().bankSizes;
    auto ctx = h.Context();

    EXPECT_EQ(procedure(ctx, 0), "Write Buffer Fail !");
    EXPECT_TRUE(h.backend->commands.empty());
    EXPECT_EQ(h.image, before);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BankWriteRefusal,
                         ::testing::Values(Refusal{"Size65535", 65536, {65535}},
                                           Refusal{"Size65536", 65536, {100, 65536}},
                                           Refusal{"MoreBanksThanImage", 2 * 65536, {10, 10, 10}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FlashBankWritePolled, CommitWithSubFunctionFiveThenPoll) {
  FlashHarness h;
  h.image = PatternImage(65536);
  h.parameter.MaxBankSize = 65536;
  h.parameter.BankSizes = {1000};
  h.drive.tur = {MakeSense(2, 0x04, 0x08, 0, 0x0100), MakeSense(2, 0x04, 0x08, 0, 0x0200), std::nullopt};
  auto ctx = h.Context();

  EXPECT_EQ(FlashBankWritePolled(ctx, 0), std::nullopt);
  const auto banks = BankCommands(h);
  ASSERT_EQ(banks.size(), 2u);
  EXPECT_EQ(Hex(banks[1]), "5a00384f52a005e100800000");
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{16384, 257, 513}));
  EXPECT_EQ(h.With(0x00).size(), 3u);
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(1000));
  EXPECT_EQ(h.view.lines.size(), 3u);
}

struct PollCase {
  const char* name;
  uint8_t flashType;
  SenseData sense;
  std::optional<std::string> result;
  std::size_t testUnitReadies;
};

class ProgressPoll : public ::testing::TestWithParam<PollCase> {};

TEST_P(ProgressPoll, SenseDecidesTheOutcome) {
  FlashHarness h;
  h.image = PatternImage(65536);
  h.parameter.MaxBankSize = 65536;
  h.parameter.BankSizes = {65534};
  h.drive.tur = {GetParam().sense, std::nullopt};
  auto ctx = h.Context();

  const auto result = GetParam().flashType == 4 ? FlashBankWritePolled(ctx, 0) : FlashHalfBankWrite(ctx, 0);
  EXPECT_EQ(result, GetParam().result);
  EXPECT_EQ(h.With(0x00).size(), GetParam().testUnitReadies);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressPoll,
    ::testing::Values(PollCase{"Type4Ascq07", 4, MakeSense(2, 0x04, 0x07), "Trigger Fail !\n", 1},
                      PollCase{"Type7Ascq07", 7, MakeSense(2, 0x04, 0x07), std::nullopt, 2},
                      PollCase{"Type4Ascq08", 4, MakeSense(2, 0x04, 0x08), std::nullopt, 2},
                      PollCase{"Type4NoMedium", 4, MakeSense(2, 0x3A, 0x00), std::nullopt, 1},
                      PollCase{"Type7NoMedium", 7, MakeSense(2, 0x3A, 0x01), std::nullopt, 1},
                      PollCase{"Type7OtherKey", 7, MakeSense(3, 0x04, 0x07), "Trigger Fail !\n", 1},
                      // No medium ends the poll only as NOT READY.
                      PollCase{"Type4NoMediumAscOtherKey", 4, MakeSense(3, 0x3A, 0x00), "Trigger Fail !\n", 1},
                      PollCase{"Type7NoMediumAscOtherKey", 7, MakeSense(6, 0x3A, 0x00), "Trigger Fail !\n", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgressPoll, EndlessProgrammingTimesOut) {
  FlashHarness h;
  h.image = PatternImage(65536);
  h.drive.tur = {MakeSense(2, 0x04, 0x07)};
  auto ctx = h.Context();

  EXPECT_EQ(FlashHalfBankWrite(ctx, 0), "Flash progress TimeOut !\n");
  EXPECT_EQ(h.With(0x00).size(), 242u);  // a poll every 500 ms until 120 s have passed
}

TEST(FlashHalfBankWrite, TwoHalvesPerBankZeroFilledAtTheEnd) {
  FlashHarness h;
  h.image = PatternImage(65536 + 100);
  h.parameter.HeaderCheckSum = 0x1234;
  auto ctx = h.Context();

  EXPECT_EQ(FlashHalfBankWrite(ctx, 0), std::nullopt);

  const auto banks = BankCommands(h);
  ASSERT_EQ(banks.size(), 5u);
  const char* expected[] = {"5a00384f52a0050000000000", "5a00384f52a0050080000000", "5a00384f52a0050100000000",
                            "5a00384f52a0050180000000", "5a00384f52a004e200801234"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Hex(banks[i]), expected[i]);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(banks[i].dataOut.size(), 32768u);
  EXPECT_TRUE(std::equal(banks[1].dataOut.begin(), banks[1].dataOut.end(), h.image.begin() + 32768));
  EXPECT_TRUE(std::equal(h.image.begin() + 65536, h.image.end(), banks[2].dataOut.begin()));
  EXPECT_TRUE(std::all_of(banks[2].dataOut.begin() + 100, banks[2].dataOut.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(banks[3].dataOut.begin(), banks[3].dataOut.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{16384}));
  EXPECT_EQ(h.view.lines.size(), 3u);
}

TEST(FlashHalfBankWrite, FailingHalfStops) {
  FlashHarness h;
  h.image = PatternImage(2 * 65536);
  h.drive.failWhen = [](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[5] == 0xA0 && c.cdb[8] == 0x80) return Sense3{5, 0x24, 0};
    return std::nullopt;
  };
  auto ctx = h.Context();

  EXPECT_EQ(FlashHalfBankWrite(ctx, 0), "Write Buffer Fail !");
  EXPECT_EQ(BankCommands(h).size(), 2u);
}

}  // namespace
}  // namespace ofs::test
