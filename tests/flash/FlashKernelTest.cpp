// Flash type 6: pass plan, retries, programming poll, boot check, hand-shake.
#include <gtest/gtest.h>

#include "ScriptedDrive.h"
#include "flash/FlashProcedures.h"

namespace ofs::test {
namespace {

SenseData Busy(uint8_t bank, uint8_t ascq = 0x08) { return MakeSense(2, 0x04, ascq, bank); }

class KernelFlash : public ::testing::Test {
 protected:
  void Image(uint32_t banks) {
    h.image = PatternImage(banks * 65536u);
    h.parameter.HeaderCheckSum = 0x1111;
    h.imageChecksum = 0x5678;
  }
  FlashResult Run() {
    auto ctx = h.Context();
    return FlashKernelWithRetries(ctx, 0);
  }
  std::vector<RecordedCommand> Writes() const { return h.With(0x3B, 1, 0x06); }
  std::vector<RecordedCommand> Triggers() const { return h.With(0x3B, 1, 0x07); }
  std::vector<RecordedCommand> Senses() const { return h.With(0x03); }

  FlashHarness h;
};

TEST_F(KernelFlash, EightBanksInOnePass) {
  Image(8);
  const SenseData finished = MakeSense(6, 0x29, 0, 8);
  h.drive.requestSense = {Busy(3), Busy(8), finished};

  EXPECT_EQ(Run(), std::nullopt);

  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 32u);
  for (uint32_t i = 0; i < 32; ++i) {
    EXPECT_EQ(writes[i].cdb[3], i / 4);
    EXPECT_EQ(writes[i].cdb[4], (i % 4) * 0x40);
    EXPECT_TRUE(std::equal(writes[i].dataOut.begin(), writes[i].dataOut.end(), h.image.begin() + i * 16384));
  }
  EXPECT_EQ(CdbHex(h.backend->commands.front().cdb), "3b0101000000000000000000");
  EXPECT_EQ(CdbHex(h.backend->commands[33].cdb), "3b0100000000000000000000");
  ASSERT_EQ(Triggers().size(), 1u);
  EXPECT_EQ(CdbHex(Triggers()[0].cdb), "3b0700000000100000000000");
  const auto senses = Senses();
  ASSERT_EQ(senses.size(), 3u);
  EXPECT_EQ(CdbHex(senses[0].cdb), "030000001200000000000000");
  EXPECT_EQ(CdbHex(senses[2].cdb), "030000001280000000000000");
  EXPECT_EQ(h.senseData, finished);  // the finishing request fills the window's sense area too
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{0, 24576, 65536}));
  EXPECT_EQ(h.view.lines, (std::vector<std::string>{"WARNING !!!", "Please wait for the accomplishment!",
                                                     "Flashing is processing..."}));
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(3500));
  EXPECT_TRUE(h.With(0x5A, 5, 0x0B).empty());  // no capability 13: no hand-shake
}

// The poll reads a clean sense as done: after a trigger the drive refused, it must not run.
TEST_F(KernelFlash, ATriggerTheDriveRefusedIsAFailureALostStatusIsNot) {
  Image(8);
  uint8_t key = 5;
  h.drive.failWhen = [&key](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] == 0x3B && c.cdb[1] == 0x07) return Sense3{key, 0x24, 0};
    return std::nullopt;
  };
  EXPECT_EQ(Run(), "Trigger Fail !\n");
  EXPECT_TRUE(Senses().empty());
  key = 6;
  h.drive.requestSense = {Busy(8)};
  EXPECT_EQ(Run(), std::nullopt);
}

TEST_F(KernelFlash, SixteenBanksStayInOnePass) {
  Image(16);
  h.drive.requestSense = {Busy(16)};

  EXPECT_EQ(Run(), std::nullopt);
  EXPECT_EQ(Writes().size(), 64u);
  EXPECT_EQ(Triggers()[0].cdb[3], 0);
  EXPECT_EQ(Senses()[0].cdb[3], 0);
}

TEST_F(KernelFlash, ThirtyTwoBanksUpperHalfFirst) {
  Image(32);
  h.drive.requestSense = {Busy(20), Busy(32), Busy(3), Busy(16), std::nullopt, std::nullopt, MakeSense(0, 0, 0)};

  EXPECT_EQ(Run(), std::nullopt);

  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 128u);
  EXPECT_EQ(writes[0].cdb[3], 16);
  EXPECT_EQ(writes[63].cdb[3], 31);
  EXPECT_EQ(writes[64].cdb[3], 0);
  EXPECT_TRUE(std::equal(writes[0].dataOut.begin(), writes[0].dataOut.end(), h.image.begin() + 16 * 65536));
  EXPECT_TRUE(std::equal(writes[127].dataOut.begin(), writes[127].dataOut.end(), h.image.end() - 16384 - 16 * 65536));
  const auto triggers = Triggers();
  ASSERT_EQ(triggers.size(), 2u);
  EXPECT_EQ(CdbHex(triggers[0].cdb), "3b0700100000100000000000");
  EXPECT_EQ(CdbHex(triggers[1].cdb), "3b0700000000100000000000");
  const auto senses = Senses();
  ASSERT_EQ(senses.size(), 7u);
  for (const auto& s : senses) EXPECT_EQ(s.cdb[3], 0x10);
  EXPECT_EQ(senses[3].cdb[5], 0x00);
  for (std::size_t i = 4; i < 7; ++i) EXPECT_EQ(senses[i].cdb[5], 0x80);
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{0, 8192, 32768, 38912, 65536}));
}

TEST_F(KernelFlash, FinishLoopOfPassTwoGivesUpAfterItsLimit) {
  Image(32);
  h.drive.requestSense = {Busy(32), Busy(16)};
  h.drive.requestSense.insert(h.drive.requestSense.end(), 600, std::nullopt);

  EXPECT_EQ(Run(), "Flash progress TimeOut !\n");
  EXPECT_GT(h.clock.Now(), std::chrono::seconds(240));
  EXPECT_LT(h.clock.Now(), std::chrono::seconds(242));
}

struct PollCase {
  const char* name;
  std::deque<std::optional<SenseData>> senses;
  FlashResult result;
  std::size_t requests;  // REQUEST SENSE commands, the finishing one included
};

class KernelPoll : public KernelFlash, public ::testing::WithParamInterface<PollCase> {};

TEST_P(KernelPoll, SenseRules) {
  Image(4);
  h.drive.requestSense = GetParam().senses;
  EXPECT_EQ(Run(), GetParam().result);
  EXPECT_EQ(Senses().size(), GetParam().requests);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KernelPoll,
    ::testing::Values(PollCase{"GoodSenseEndsWithoutFinish", {MakeSense(0, 0, 0)}, std::nullopt, 1},
                      PollCase{"NoMediumEndsWithoutFinish", {MakeSense(2, 0x3A, 0)}, std::nullopt, 1},
                      PollCase{"Ascq07IsProgramming", {Busy(1, 0x07), Busy(4, 0x07)}, std::nullopt, 3},
                      PollCase{"UnitAttentionFinishes", {MakeSense(6, 0x29, 0, 1)}, std::nullopt, 2},
                      PollCase{"FailedRequestAskedAgain", {std::nullopt, std::nullopt, Busy(4)}, std::nullopt, 4},
                      PollCase{"OtherSenseIsTriggerFail", {Busy(1), MakeSense(5, 0x24, 0)}, "Trigger Fail !\n", 2},
                      PollCase{"UnitAttentionOtherAsc", {MakeSense(6, 0x28, 0)}, "Trigger Fail !\n", 1},
                      PollCase{"NoMediumAscOtherKey", {MakeSense(3, 0x3A, 0)}, "Trigger Fail !\n", 1},
                      // Done and unit attention test the whole byte 2, NOT READY only its sense key.
                      PollCase{"FlaggedGoodIsNotDone", {MakeSense(0x20, 0, 0)}, "Trigger Fail !\n", 1},
                      PollCase{"FlaggedUnitAttention", {MakeSense(0x26, 0x29, 0, 1)}, "Trigger Fail !\n", 1},
                      PollCase{"FlaggedNotReadyProgramming", {MakeSense(0x22, 0x04, 0x08, 1), Busy(4)}, std::nullopt,
                               3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KernelFlash, FailedRequestsAreRepeatedWithoutSleeping) {
  Image(4);
  h.drive.requestSense = {std::nullopt, std::nullopt, MakeSense(0, 0, 0)};
  EXPECT_EQ(Run(), std::nullopt);
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(3000));
}

TEST_F(KernelFlash, EndlessProgrammingTimesOut) {
  Image(4);
  h.drive.requestSense.assign(400, Busy(1));
  EXPECT_EQ(Run(), "Flash progress TimeOut !\n");
  EXPECT_EQ(Senses().size(), 241u);  // the limit is checked before each request
}

// Fails the block writes whose running number is in `failing` (1-based).
std::function<std::optional<Sense3>(const RecordedCommand&)> FailWrites(std::vector<int> failing) {
  auto count = std::make_shared<int>(0);
  return [=](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] != 0x3B || c.cdb[1] != 0x06) return std::nullopt;
    ++*count;
    if (std::find(failing.begin(), failing.end(), *count) != failing.end()) return Sense3{5, 0x24, 0};
    return std::nullopt;
  };
}

std::vector<int> Range(int from, int to) {
  std::vector<int> r;
  for (int i = from; i <= to; ++i) r.push_back(i);
  return r;
}

TEST_F(KernelFlash, TenFailuresThenSuccessAndTheAllowanceComesBack) {
  Image(1);
  auto failing = Range(1, 10);  // block 0: 10 failures, then success
  for (int i : Range(12, 21)) failing.push_back(i);  // block 1: 10 more
  h.drive.failWhen = FailWrites(failing);

  EXPECT_EQ(Run(), std::nullopt);
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 24u);
  EXPECT_EQ(writes[10].cdb[4], 0x00);  // the same block again, not the bank's start
  EXPECT_EQ(writes[11].cdb[4], 0x40);
  EXPECT_EQ(writes[21].cdb[4], 0x40);
  EXPECT_EQ(writes[22].cdb[4], 0x80);
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(20 * 500 + 3000));
}

TEST_F(KernelFlash, ElevenFailuresInARowStop) {
  Image(1);
  h.drive.failWhen = FailWrites(Range(2, 12));

  EXPECT_EQ(Run(), "Write Buffer Fail !");
  EXPECT_EQ(Writes().size(), 12u);
  EXPECT_TRUE(Triggers().empty());
}

TEST_F(KernelFlash, BootThreeTimesIsFlashError) {
  Image(2);
  h.drive.revisions = {"BOOT"};

  EXPECT_EQ(Run(), "Flash Error!");
  EXPECT_EQ(Triggers().size(), 3u);
  EXPECT_EQ(h.view.lines, (std::vector<std::string>{"Last flash fail !", "retrying flash 2 time(s)\n", "WARNING !!!",
                                                     "Please wait for the accomplishment!",
                                                     "Flashing is processing..."}));
  EXPECT_EQ(std::count(h.view.events.begin(), h.view.events.end(), "clear"), 2);
  EXPECT_EQ(std::count(h.view.allLines.begin(), h.view.allLines.end(), "retrying flash 1 time(s)\n"), 1);
}

TEST_F(KernelFlash, BootOnceThenTheNewFirmware) {
  Image(2);
  h.drive.revisions = {"BOOT", "2.00"};

  EXPECT_EQ(Run(), std::nullopt);
  EXPECT_EQ(Triggers().size(), 2u);
  EXPECT_EQ(h.view.lines.front(), "Last flash fail !");
  EXPECT_EQ(h.view.lines[1], "retrying flash 1 time(s)\n");
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{0, 65536, 0, 65536}));
}

TEST_F(KernelFlash, UnreadableRevisionIsNotBoot) {
  Image(2);
  h.drive.failWhen = [](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] == 0x12) return Sense3{2, 0x04, 0x01};
    return std::nullopt;
  };
  EXPECT_EQ(Run(), std::nullopt);
  EXPECT_EQ(Triggers().size(), 1u);
}

struct HandShakeCase {
  const char* name;
  std::optional<uint16_t> reported;
  bool setFails;
  FlashResult result;
};

class KernelHandShake : public KernelFlash, public ::testing::WithParamInterface<HandShakeCase> {};

TEST_P(KernelHandShake, ChecksumIsHandedOverAndReadBack) {
  Image(2);
  h.drive.capabilities = 1 << 13;
  h.drive.checksum = GetParam().reported;
  h.drive.setChecksumFails = GetParam().setFails;

  EXPECT_EQ(Run(), GetParam().result);
  const auto set = h.With(0x5A, 6, 0x01);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(CdbHex(set[0].cdb), "5a00344f520b011111567800");
}

INSTANTIATE_TEST_SUITE_P(Cases, KernelHandShake,
                         ::testing::Values(HandShakeCase{"Matches", 0x5678, false, std::nullopt},
                                           HandShakeCase{"Differs", 0x5679, false, "CheckSum Error!"},
                                           HandShakeCase{"NoReply", std::nullopt, false, "Get CheckSum Error!"},
                                           HandShakeCase{"SetFails", 0x5678, true, "SET F/W CheckSum Error !\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

class KernelRefusal : public KernelFlash, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(KernelRefusal, NothingIsSent) {
  h.image = PatternImage(GetParam());
  EXPECT_EQ(Run(), "Write Buffer Fail !");
  EXPECT_TRUE(h.backend->commands.empty());
}

INSTANTIATE_TEST_SUITE_P(Lengths, KernelRefusal,
                         ::testing::Values(65535u, 17u * 65536, 20u * 65536 + 5, 31u * 65536, 32u * 65536 - 1,
                                           33u * 65536, 256u * 65536));

// Each ready wait after programming has its own time-out: a drive that stops
// answering ready at the k-th wait ends the flash right there, before the next step.
struct ReadyWaitCase {
  const char* name;
  std::size_t readyWaitsBefore;
  std::size_t inquiries;  // the boot check came before the wait
  std::size_t vendorQueries;  // capability query, checksum set
};

class KernelReadyWait : public KernelFlash, public ::testing::WithParamInterface<ReadyWaitCase> {};

TEST_P(KernelReadyWait, TimesOutWhereTheDriveStopsBeingReady) {
  Image(2);
  h.drive.capabilities = 1 << 13;
  h.drive.checksum = 0x5678;
  h.drive.requestSense = {Busy(2)};
  h.drive.tur.assign(GetParam().readyWaitsBefore, std::nullopt);
  h.drive.tur.push_back(MakeSense(2, 0x04, 0x01));

  EXPECT_EQ(Run(), "Wait Drive Ready TimeOut !\n");
  EXPECT_EQ(h.With(0x12).size(), GetParam().inquiries);
  EXPECT_EQ(h.With(0x5A).size(), GetParam().vendorQueries);
  EXPECT_TRUE(h.With(0x5A, 6, 0x02).empty());  // the checksum is never read back
}

INSTANTIATE_TEST_SUITE_P(Waits, KernelReadyWait,
                         ::testing::Values(ReadyWaitCase{"AfterTheSinglePassFinish", 0, 0, 0},
                                           ReadyWaitCase{"AfterTheBootCheck", 1, 1, 0},
                                           ReadyWaitCase{"BeforeTheChecksumIsSet", 2, 1, 1},
                                           ReadyWaitCase{"AfterTheChecksumIsSet", 3, 1, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ofs::test
