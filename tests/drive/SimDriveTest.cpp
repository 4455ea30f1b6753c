// The simulated drive's answers to the identity, tray, checksum and query commands,
// and the faults a profile injects.
#include <gtest/gtest.h>

#include <numeric>
#include <tuple>

#include "drive/SimTestRig.h"
#include "firmware/OfsBuilder.h"

namespace ofs::test {
namespace {

constexpr Cdb kTestUnitReady{};
constexpr Cdb kWriteBufferMode6{0x3B, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00};

SimDriveProfile FirmwareDrive(const std::vector<build::InquiryTemplate>& templates) {
  SimDriveProfile drive;
  drive.flashSize = 0x40000;
  drive.firmware = build::MakeFlatImage(0x20000, 7, templates);
  return drive;
}

TEST(SimDrive, DemoDrivesAnswerWithTheirIdentity) {
  SimRig rig(BuiltInDemoProfile(true));
  TAtapiImp& atapi = *rig.atapi;
  ASSERT_EQ(atapi.driveCount, 2);
  EXPECT_EQ(atapi.drives[0].devicePath, "sim:0");
  EXPECT_EQ(atapi.drives[1].identification, "ORVA    KZW-5520        ");
  EXPECT_EQ(ReadModelName(atapi, 0), "ORVA    KZR-3350P2      ");
  EXPECT_EQ(ReadFirmwareVersion(atapi, 0), "1.00");
  EXPECT_EQ(ReadInquiryExtension(atapi, 0), "061201");
  EXPECT_EQ(ReadHardwareId(atapi, 0), "A1");
  EXPECT_EQ(ReadFirmwareVersion(atapi, 1), "2.10");
  EXPECT_EQ(ReadInquiryExtension(atapi, 1), "050930");
  EXPECT_EQ(ReadHardwareId(atapi, 1), "B2");
  uint8_t reply[8];
  EXPECT_TRUE(QueryDriveCapability(atapi, 0, reply, 11));
  EXPECT_TRUE(QueryDriveCapability(atapi, 0, reply, 13));
  EXPECT_FALSE(QueryDriveCapability(atapi, 1, reply, 11));
  EXPECT_FALSE(QueryDriveCapability(atapi, 1, reply, 13));
  EXPECT_FALSE(IsTrayOpen(atapi, 0));
  EXPECT_FALSE(IsMediumPresent(atapi, 1));
  EXPECT_TRUE(WaitDriveReady(atapi, 0, 120));  // no disc counts as ready
}

TEST(SimDrive, IdentityFollowsTheTemplateRuleOfTheFlash) {
  build::InquiryTemplate boot;
  boot.offset = 0x100;
  boot.revision = "BOOT";
  build::InquiryTemplate main;
  main.offset = 0x2000;
  main.product = "KZR-9000";
  main.revision = "3.07";
  main.hardwareId = "C3";
  main.dcExtension = "991231";
  SimDriveProfile drive = FirmwareDrive({boot, main});
  drive.hardwareIdReply = false;
  SimRig rig(drive);
  EXPECT_EQ(ReadModelName(*rig.atapi, 0), "ORVA    KZR-9000        ");
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "3.07");
  EXPECT_EQ(ReadInquiryExtension(*rig.atapi, 0), "991231");  // the "DC" text before the template
  EXPECT_EQ(ReadHardwareId(*rig.atapi, 0), "C3");              // no vendor reply: INQUIRY bytes 38-39
  EXPECT_EQ(rig.drive().CommandCount(SimCommand::IdentityQuery), 1);
}

TEST(SimDrive, FlashWithoutTemplateGivesEmptyIdentity) {
  SimDriveProfile drive;
  drive.firmware.assign(0x10000, 0xFF);
  SimRig rig(drive);
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "");
  EXPECT_EQ(ReadModelName(*rig.atapi, 0), "");
}

TEST(SimDrive, CapabilityBitsAreWhereTheQueryLooks) {
  for (int capability = 1; capability <= 13; ++capability) {
    SimDriveProfile drive;
    drive.capabilities = static_cast<uint16_t>(1u << capability);
    SimRig rig(drive);
    for (int asked = 0; asked <= 13; ++asked) {
      uint8_t reply[8];
      const bool expected = asked == 0 || asked == capability;
      EXPECT_EQ(QueryDriveCapability(*rig.atapi, 0, reply, asked), expected) << capability << " " << asked;
    }
  }
}

TEST(SimDrive, TrayMediumAndLock) {
  SimDriveProfile drive;
  drive.mediumPresent = true;
  SimRig rig(drive);
  TAtapiImp& atapi = *rig.atapi;
  EXPECT_TRUE(TestUnitReady(atapi, 0));  // a disc in a closed tray is ready
  EXPECT_TRUE(IsMediumPresent(atapi, 0));
  ASSERT_TRUE(PreventMediumRemoval(atapi, 0, 1));
  EXPECT_TRUE(rig.drive().MediumRemovalPrevented());
  EXPECT_FALSE(EjectTray(atapi, 0));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x05, 0x53, 0x02}));
  EXPECT_FALSE(rig.drive().TrayOpen());
  ASSERT_TRUE(PreventMediumRemoval(atapi, 0, 0));
  ASSERT_TRUE(EjectTray(atapi, 0));
  EXPECT_TRUE(IsTrayOpen(atapi, 0));
  EXPECT_FALSE(IsMediumPresent(atapi, 0));  // sensed only on a closed tray
  EXPECT_FALSE(TestUnitReady(atapi, 0));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x02, 0x3A, 0x02}));
  rig.drive().SetMediumPresent(false);
  ASSERT_TRUE(LoadTray(atapi, 0));
  EXPECT_FALSE(IsTrayOpen(atapi, 0));
  EXPECT_FALSE(TestUnitReady(atapi, 0));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x02, 0x3A, 0x01}));
}

TEST(SimDrive, LoadTrayBehaviours) {
  struct Case {
    SimLoadTray mode;
    bool succeeds;
    bool closes;
  };
  for (const Case& c : {Case{SimLoadTray::Closes, true, true}, Case{SimLoadTray::Fails, false, false},
                        Case{SimLoadTray::FailsAndCloses, false, true}}) {
    SimDriveProfile drive;
    drive.trayOpen = true;
    drive.loadTray = c.mode;
    drive.loadTraySense = {0x06, 0x1D, 0x00};
    SimRig rig(drive);
    EXPECT_EQ(LoadTray(*rig.atapi, 0), c.succeeds);
    if (!c.succeeds) {
      EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x06, 0x1D, 0x00}));
    }
    EXPECT_EQ(rig.drive().TrayOpen(), !c.closes);
  }
}

uint16_t ReadChecksum(SimRig& rig, bool& ok) {
  uint8_t reply[8] = {};
  ok = ReadFirmwareChecksum(*rig.atapi, 0, reply);
  return static_cast<uint16_t>(reply[6] << 8 | reply[7]);
}

TEST(SimDrive, ChecksumIsTheFlashSumWhateverTheHostSet) {
  SimDriveProfile drive = FirmwareDrive({build::InquiryTemplate{}});
  drive.capabilities = (1u << 11) | (1u << 13);
  drive.checksumExclude = {{0x1000, 0x100}};
  SimRig rig(drive);
  const auto& flash = rig.drive().Flash();
  const uint32_t sum = std::accumulate(flash.begin(), flash.end(), 0u) -
                       std::accumulate(flash.begin() + 0x1000, flash.begin() + 0x1100, 0u);
  bool ok = false;
  EXPECT_EQ(ReadChecksum(rig, ok), static_cast<uint16_t>(sum));
  EXPECT_TRUE(ok);
  ASSERT_TRUE(SetFirmwareChecksum(*rig.atapi, 0, 0x1111, 0xBEEF));
  EXPECT_EQ(rig.drive().ExpectedChecksum(), 0xBEEF);
  EXPECT_EQ(ReadChecksum(rig, ok), static_cast<uint16_t>(sum));
  rig.drive().Settings().checksumMode = SimChecksumMode::Wrong;
  EXPECT_EQ(ReadChecksum(rig, ok), static_cast<uint16_t>(sum + 1));
  rig.drive().Settings().checksumMode = SimChecksumMode::Fixed;
  rig.drive().Settings().fixedChecksum = 0x1234;
  EXPECT_EQ(ReadChecksum(rig, ok), 0x1234);
}

TEST(SimDrive, ChecksumCommandsNeedTheirCapabilities) {
  SimRig rig(SimDriveProfile{});
  bool ok = true;
  ReadChecksum(rig, ok);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(SetFirmwareChecksum(*rig.atapi, 0, 1, 2));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x05, 0x24, 0x00}));
}

TEST(SimDrive, ReadRomDataReadsTheFlash) {
  SimRig rig(FirmwareDrive({build::InquiryTemplate{}}));
  std::vector<uint8_t> piece(256);
  ASSERT_TRUE(ReadRomData(*rig.atapi, 0, piece.data(), 0xFF00, 1, 256));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), rig.drive().Flash().begin() + 0x1FF00));
  EXPECT_FALSE(ReadRomData(*rig.atapi, 0, piece.data(), 0xFF01, 3, 256));  // runs past the 256 KiB flash
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x05, 0x21, 0x00}));
  std::vector<uint8_t> info(65535);
  EXPECT_TRUE(ReadKernelInfo(*rig.atapi, 0, info.data()));
}

TEST(SimDrive, UnknownCommandIsIllegal) {
  SimRig rig(SimDriveProfile{});
  EXPECT_FALSE(rig.Send(Cdb{0xA8}));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x05, 0x20, 0x00}));
}

// Which of six uses of WRITE BUFFER mode 6 fail under one fault line.
std::string FailurePattern(const SimFailure& failure) {
  SimDriveProfile drive;
  drive.failures = {failure};
  SimRig rig(drive);
  std::vector<uint8_t> data(0x4000);
  std::string pattern;
  for (int use = 0; use < 6; ++use) {
    const bool ok = rig.SendOut(kWriteBufferMode6, data.data(), 0x4000);
    pattern += ok ? '.' : (rig.Sense()[0] == 0 ? 'T' : 'X');
  }
  return pattern;
}

TEST(SimDrive, FailuresHitTheChosenUses) {
  SimFailure failure;
  failure.selector.command = SimCommand::WriteBuffer;
  EXPECT_EQ(FailurePattern(failure), "X.....");
  failure.firstUse = 2;
  failure.times = 3;
  EXPECT_EQ(FailurePattern(failure), ".XXX..");
  failure.times = 0;
  EXPECT_EQ(FailurePattern(failure), ".XXXXX");
  failure.transportError = true;
  EXPECT_EQ(FailurePattern(failure), ".TTTTT");
  SimFailure byOpcode;
  byOpcode.selector.opcode = 0x3B;
  byOpcode.selector.sub = 0x07;  // another mode: mode 6 is untouched
  EXPECT_EQ(FailurePattern(byOpcode), "......");
  byOpcode.selector.sub = 0x06;
  byOpcode.times = 2;
  EXPECT_EQ(FailurePattern(byOpcode), "XX....");
}

TEST(SimDrive, InjectedSenseReachesTheHost) {
  SimDriveProfile drive;
  SimFailure failure;
  failure.selector.command = SimCommand::TestUnitReady;
  failure.sense = {0x03, 0x11, 0x05};
  drive.failures = {failure};
  drive.mediumPresent = true;
  SimRig rig(drive);
  EXPECT_FALSE(TestUnitReady(*rig.atapi, 0));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x03, 0x11, 0x05}));
  EXPECT_TRUE(TestUnitReady(*rig.atapi, 0));
}

TEST(SimDrive, UnpluggedDriveFailsEverything) {
  SimDriveProfile drive;
  drive.unplugged = true;
  SimRig rig(drive);
  EXPECT_FALSE(rig.Send(kTestUnitReady));
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "");
  EXPECT_EQ(rig.drive().OpcodeCount(0x12), 1);
}

TEST(SimDrive, NeverReadyDriveTimesOutOnVirtualTime) {
  SimDriveProfile drive;
  drive.neverReady = true;
  SimRig rig(drive);
  ASSERT_TRUE(PreventMediumRemoval(*rig.atapi, 0, 1));
  EXPECT_FALSE(WaitDriveReady(*rig.atapi, 0, 120));
  EXPECT_GT(rig.clock.Now(), std::chrono::seconds(120));
  EXPECT_FALSE(rig.drive().MediumRemovalPrevented());
}

TEST(SimDrive, EveryCommandTakesClockTime) {
  // Without a latency a command still takes 1 ms, so a host that repeats a failing
  // command at once reaches its time limit on the virtual clock too.
  for (const auto& [latency, unplugged, expected] : {std::tuple{25u, false, 25}, std::tuple{0u, false, 1},
                                                     std::tuple{0u, true, 1}}) {
    SimDriveProfile drive;
    drive.latencyMs = latency;
    drive.unplugged = unplugged;
    SimRig rig(drive);
    const auto before = rig.clock.Now();
    rig.Send(kTestUnitReady);
    EXPECT_EQ(rig.clock.Now() - before, std::chrono::milliseconds(expected)) << latency << unplugged;
  }
}

}  // namespace
}  // namespace ofs::test
