// The command set's rules around the CDBs: index check, target selection, the
// ready wait, reply interpretation and the drive line.
#include <gtest/gtest.h>

#include <cstring>

#include "DriveFixture.h"
#include "drive/Winfunc.h"

namespace ofs::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kAllowRemoval = "1e0000000000000000000000";

std::vector<uint8_t> InquiryReply(const std::string& model, const std::string& version, const std::string& hwid,
                                  const std::string& extension) {
  std::vector<uint8_t> reply(255, 0);
  std::memcpy(&reply[8], model.data(), std::min<std::size_t>(model.size(), 24));
  std::memcpy(&reply[32], version.data(), std::min<std::size_t>(version.size(), 4));
  std::memcpy(&reply[38], hwid.data(), std::min<std::size_t>(hwid.size(), 2));
  std::memcpy(&reply[40], extension.data(), std::min<std::size_t>(extension.size(), 6));
  return reply;
}

class Winfunc : public DriveTest {};

TEST_F(Winfunc, IndexAtDriveCountSendsNothingAndKeepsTheTarget) {
  uint8_t reply[8];
  std::memcpy(reply, "OR\x05\0\0\xff\xff\0", 8);  // a stale valid-looking reply
  EXPECT_FALSE(SendAtapiCommand(*atapi, 2, reinterpret_cast<const uint8_t*>("\0\0\0\0\0\0\0\0\0\0\0\0"), nullptr, 0,
                                kDirNone));
  EXPECT_FALSE(QueryDriveCapability(*atapi, 2, reply, 0));
  EXPECT_FALSE(ReadFirmwareChecksum(*atapi, 255, reply));
  EXPECT_EQ(ReadModelName(*atapi, 2), "");
  EXPECT_EQ(ReadHardwareId(*atapi, 2), "");
  EXPECT_FALSE(WaitDriveReady(*atapi, 2, 120));
  EXPECT_TRUE(recorder->commands.empty());
  EXPECT_EQ(atapi->currentDrive, 0);
  EXPECT_EQ(recorder->selects, 1);  // only the construction's
  EXPECT_EQ(clock.Now(), 0ms);
}

TEST_F(Winfunc, SelectsOnlyWhenTheDriveChanges) {
  const int targets[] = {0, 0, 1, 1, 0, 1};
  const int selectsAfter[] = {1, 1, 2, 2, 3, 4};
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(TestUnitReady(*atapi, static_cast<DriveIndex>(targets[i])));
    EXPECT_EQ(recorder->selects, selectsAfter[i]) << "command " << i;
    EXPECT_EQ(recorder->commands.back().drive, targets[i]);
    EXPECT_EQ(atapi->currentDrive, targets[i]);
  }
}

TEST_F(Winfunc, SendReportsSuccessOnlyForStatusOne) {
  for (TransportStatus status : {0, 1, 2, 4, 8, 24}) {
    recorder->handler = [=](const RecordedCommand&, uint8_t*, SenseData&) { return status; };
    EXPECT_EQ(TestUnitReady(*atapi, 0), status == 1) << int(status);
  }
}

TEST_F(Winfunc, ReadyWaitTakesAReadyDriveAtOnce) {
  EXPECT_TRUE(WaitDriveReady(*atapi, 0, 120));
  EXPECT_EQ(recorder->commands.size(), 1u);
}

TEST_F(Winfunc, ReadyWaitCountsNoDiscAsReady) {
  AnswerCheckCondition(0x02, 0x3A, 0x00);
  EXPECT_TRUE(WaitDriveReady(*atapi, 0, 120));
  ASSERT_EQ(recorder->commands.size(), 1u);
  EXPECT_EQ(LastCdb(), "000000000000000000000000");
}

TEST_F(Winfunc, ReadyWaitPollsEvery200msUntilReady) {
  int failures = 5;
  recorder->handler = [&](const RecordedCommand&, uint8_t*, SenseData& sense) {
    sense[2] = 0x02;
    sense[12] = 0x04;
    return failures-- > 0 ? kStatusCheckCondition : kStatusGood;
  };
  EXPECT_TRUE(WaitDriveReady(*atapi, 1, 120));
  EXPECT_EQ(recorder->commands.size(), 6u);
  EXPECT_EQ(clock.Now(), 1000ms);
}

TEST_F(Winfunc, ReadyWaitGivesUpAfterTheTimeOutAndAllowsRemoval) {
  AnswerCheckCondition(0x02, 0x04, 0x01);
  EXPECT_FALSE(WaitDriveReady(*atapi, 1, 120));
  EXPECT_GT(clock.Now(), 120s);
  EXPECT_LE(clock.Now(), 120s + 200ms);
  EXPECT_EQ(LastCdb(), kAllowRemoval);
  EXPECT_EQ(recorder->commands.back().drive, 1);
  // Every command before it was a readiness poll.
  for (std::size_t i = 0; i + 1 < recorder->commands.size(); ++i) {
    EXPECT_EQ(CdbHex(recorder->commands[i].cdb), "000000000000000000000000");
  }
}

// The time limit is looked at first: a poll that ends past it gives up, disc or none.
TEST_F(Winfunc, ReadyWaitPastItsLimitGivesUpBeforeLookingForADisc) {
  recorder->handler = [&](const RecordedCommand&, uint8_t*, SenseData& sense) {
    clock.Sleep(121s);
    sense[2] = 0x02;
    sense[12] = 0x3A;
    return kStatusCheckCondition;
  };
  EXPECT_FALSE(WaitDriveReady(*atapi, 0, 120));
  EXPECT_EQ(LastCdb(), kAllowRemoval);
}

TEST_F(Winfunc, ReadyWaitReadsTheSenseKeyFromTheLowNibble) {
  AnswerCheckCondition(0xF2, 0x3A, 0x00);  // filemark/EOM/ILI bits above the key
  EXPECT_TRUE(WaitDriveReady(*atapi, 0, 120));
  AnswerCheckCondition(0x06, 0x3A, 0x00);  // UNIT ATTENTION is no "no disc"
  EXPECT_FALSE(WaitDriveReady(*atapi, 0, 1));
}

struct CapabilityCase {
  uint8_t byte5, byte6;
  int capability;
  bool expected;
};

TEST_F(Winfunc, CapabilityBits) {
  const CapabilityCase cases[] = {
      {0x00, 0x00, 0, true},   {0x01, 0x00, 1, true},  {0xFE, 0xFF, 1, false}, {0x80, 0x00, 8, true},
      {0x7F, 0xFF, 8, false},  {0x00, 0x01, 9, true},  {0x00, 0x04, 11, true}, {0xFF, 0xFB, 11, false},
      {0x00, 0x08, 12, true},  {0x00, 0x40, 13, true}, {0xFF, 0x10, 13, false}, {0xFF, 0xBF, 13, false},
  };
  for (const CapabilityCase& c : cases) {
    Reply("5a00344f5200", {'O', 'R', 0, 0, 0, c.byte5, c.byte6, 0});
    uint8_t reply[8];
    EXPECT_EQ(QueryDriveCapability(*atapi, 0, reply, c.capability), c.expected)
        << "capability " << c.capability << " bytes " << int(c.byte5) << "," << int(c.byte6);
  }
}

TEST_F(Winfunc, CapabilityNeedsTheSignatureAndAnIndexInRange) {
  Reply("5a00344f5200", {'O', 'X', 0, 0, 0, 0xFF, 0xFF, 0});
  uint8_t reply[8];
  EXPECT_FALSE(QueryDriveCapability(*atapi, 0, reply, 0));
  Reply("5a00344f5200", {'O', 'R', 0, 0, 0, 0xFF, 0xFF, 0});
  const std::size_t sent = recorder->commands.size();
  EXPECT_FALSE(QueryDriveCapability(*atapi, 0, reply, 14));
  EXPECT_FALSE(QueryDriveCapability(*atapi, 0, reply, -1));
  EXPECT_EQ(recorder->commands.size(), sent);
}

TEST_F(Winfunc, FirmwareChecksumNeedsSignatureAndByte2AtLeast5) {
  uint8_t reply[8];
  Reply("5a00344f520b", {'O', 'R', 4, 0, 0, 0, 0x12, 0x34});
  EXPECT_FALSE(ReadFirmwareChecksum(*atapi, 0, reply));
  Reply("5a00344f520b", {'O', 'R', 5, 0, 0, 0, 0x12, 0x34});
  EXPECT_TRUE(ReadFirmwareChecksum(*atapi, 0, reply));
  EXPECT_EQ(reply[6], 0x12);
  EXPECT_EQ(reply[7], 0x34);
  Reply("5a00344f520b", {'R', 'O', 9, 0, 0, 0, 0x12, 0x34});
  EXPECT_FALSE(ReadFirmwareChecksum(*atapi, 0, reply));
}

TEST_F(Winfunc, HardwareIdFromTheVendorReply) {
  std::vector<uint8_t> vendor(20, 0);
  std::memcpy(vendor.data(), "ORVA", 4);
  vendor[18] = 'H';
  vendor[19] = '7';
  Reply("5a00384f5210", vendor);
  EXPECT_EQ(ReadHardwareId(*atapi, 0), "H7");
  EXPECT_EQ(recorder->commands.size(), 1u);
}

TEST_F(Winfunc, HardwareIdFallsBackToInquiry) {
  std::vector<uint8_t> vendor(20, 'x');
  std::memcpy(vendor.data(), "ORVB", 4);
  Reply("5a00384f5210", vendor);
  Reply("12", InquiryReply("MODEL", "1.00", "Q2", "DATE01"));
  EXPECT_EQ(ReadHardwareId(*atapi, 0), "Q2");
  EXPECT_EQ(LastCdb(), "12000000ff00000000000000");
  Reply("12", InquiryReply("MODEL", "1.00", "Q2", "DATE01"), kStatusCheckCondition);
  EXPECT_EQ(ReadHardwareId(*atapi, 0), "");
}

TEST_F(Winfunc, IdentityTextsEndAtTheFirstZero) {
  Reply("12", InquiryReply("ACME    DVD-RW X1", "1.0", "", "0612"));
  EXPECT_EQ(ReadModelName(*atapi, 0), "ACME    DVD-RW X1");
  EXPECT_EQ(ReadFirmwareVersion(*atapi, 0), "1.0");
  EXPECT_EQ(ReadInquiryExtension(*atapi, 0), "0612");
  Reply("12", InquiryReply("ACME    DVD-RW X1  WIDE!", "1.02", "", "061231"));
  EXPECT_EQ(ReadModelName(*atapi, 0), "ACME    DVD-RW X1  WIDE!");
  EXPECT_EQ(ReadFirmwareVersion(*atapi, 0), "1.02");
  EXPECT_EQ(ReadInquiryExtension(*atapi, 0), "061231");
  Reply("12", InquiryReply("ACME", "1.02", "", "061231"), 0);
  EXPECT_EQ(ReadModelName(*atapi, 0), "");
  EXPECT_EQ(ReadFirmwareVersion(*atapi, 0), "");
  EXPECT_EQ(ReadInquiryExtension(*atapi, 0), "");
}

TEST_F(Winfunc, DataInBuffersStartCleared) {
  std::vector<uint8_t> buffer(64, 0xEE);
  EXPECT_TRUE(ReadRomData(*atapi, 0, buffer.data(), 0, 0, 32));
  EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 32, 0), 32);
  EXPECT_EQ(buffer[32], 0xEE);  // nothing past the transfer length is touched
}

TEST_F(Winfunc, TrayAndMediumBitsOfTheMediaStatus) {
  Reply("4a", {0, 0, 0, 0, 0, 0x01});
  EXPECT_TRUE(IsTrayOpen(*atapi, 0));
  EXPECT_FALSE(IsMediumPresent(*atapi, 0));
  Reply("4a", {0, 0, 0, 0, 0, 0x02});
  EXPECT_FALSE(IsTrayOpen(*atapi, 0));
  EXPECT_TRUE(IsMediumPresent(*atapi, 0));
  recorder->handler = nullptr;
  AnswerCheckCondition(0x05, 0x20, 0x00);
  EXPECT_FALSE(IsTrayOpen(*atapi, 0));
  EXPECT_FALSE(IsMediumPresent(*atapi, 0));
}

TEST_F(Winfunc, DriveLine) {
  Reply("12", InquiryReply("ACME    DVD-RW X1       ", "1.02", "", "061231"));
  EXPECT_EQ(BuildDriveLine(*atapi, 0, true), "ACME    DVD-RW X1        1.02 061231");
  EXPECT_EQ(BuildDriveLine(*atapi, 0, false), "ACME    DVD-RW X1        1.02 ");
  Reply("12", InquiryReply("PIONEER DVD-RW  DVR-112D", "1.21", "", "061231"));
  EXPECT_EQ(BuildDriveLine(*atapi, 0, true), "PIONEER DVD-RW  DVR-112D 1.21 ");
  Reply("12", InquiryReply("PIONEE", "1.21", "", "061231"));
  EXPECT_EQ(BuildDriveLine(*atapi, 0, true), "PIONEE 1.21 061231");
}

}  // namespace
}  // namespace ofs::test
