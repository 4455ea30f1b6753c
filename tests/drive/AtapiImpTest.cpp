// The transport object: its drive table, its target and the sense of the last command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "DriveFixture.h"

namespace ofs::test {
namespace {

const uint8_t kTestUnitReady[12] = {};

TEST(AtapiImp, FillsTheTableFromTheBackEnd) {
  VirtualClock clock;
  std::vector<BackendDrive> found = {{"/dev/sg3", "ACME    DVD-RW X1       ", "1.02", CommandFilter::KernelSafeList},
                                     {"/dev/sr1", "OTHER   CD-ROM          ", "0.99", CommandFilter::None}};
  auto backend = std::make_unique<RecordingBackend>(found);
  RecordingBackend* recorder = backend.get();
  TAtapiImp atapi(std::move(backend), clock, false);
  ASSERT_EQ(atapi.driveCount, 2);
  EXPECT_EQ(atapi.drives[0].devicePath, "/dev/sg3");
  EXPECT_EQ(atapi.drives[0].identification, "ACME    DVD-RW X1       ");
  EXPECT_EQ(atapi.drives[0].revision, "1.02");
  EXPECT_EQ(atapi.drives[0].filter, CommandFilter::KernelSafeList);
  EXPECT_EQ(atapi.drives[1].devicePath, "/dev/sr1");
  EXPECT_EQ(atapi.drives[1].filter, CommandFilter::None);
  EXPECT_FALSE(atapi.useSpti);
  EXPECT_EQ(atapi.currentDrive, 0);
  EXPECT_EQ(recorder->selects, 1);
  EXPECT_EQ(recorder->selected, 0);
  EXPECT_EQ(&atapi.clock(), &clock);
}

TEST(AtapiImp, KeepsTheFirstTwentyOfMoreDrives) {
  VirtualClock clock;
  TAtapiImp atapi(std::make_unique<RecordingBackend>(SomeDrives(27)), clock, true);
  EXPECT_EQ(atapi.driveCount, TAtapiImp::kMaxDrives);
  EXPECT_EQ(atapi.drives[19].devicePath, "/dev/sg19");
}

TEST(AtapiImp, NoDriveMeansNoSelection) {
  VirtualClock clock;
  auto backend = std::make_unique<RecordingBackend>();
  RecordingBackend* recorder = backend.get();
  TAtapiImp atapi(std::move(backend), clock, true);
  EXPECT_EQ(atapi.driveCount, 0);
  EXPECT_EQ(atapi.currentDrive, 0);
  EXPECT_EQ(recorder->selects, 0);
  atapi.SelectDrive(0);
  EXPECT_EQ(recorder->selects, 0);
}

class AtapiSense : public DriveTest {};

TEST_F(AtapiSense, ReturnsByte2UnmaskedAndClearsItForTheNextCommand) {
  recorder->handler = [](const RecordedCommand&, uint8_t*, SenseData& sense) {
    for (std::size_t i = 0; i < sense.size(); ++i) sense[i] = static_cast<uint8_t>(0xA0 + i);
    return kStatusCheckCondition;
  };
  EXPECT_EQ(atapi->ExecuteCommand(kTestUnitReady, nullptr, 0, kDirNone), kStatusCheckCondition);
  uint8_t sense[18];
  EXPECT_EQ(atapi->GetSenseData(sense), 0xA2);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(sense[i], 0xA0 + i);
  // A back end that leaves the sense alone must not resurrect the last one.
  recorder->handler = nullptr;
  EXPECT_EQ(atapi->ExecuteCommand(kTestUnitReady, nullptr, 0, kDirNone), kStatusGood);
  EXPECT_EQ(atapi->GetSenseData(sense), 0);
  EXPECT_EQ(std::count(sense, sense + 18, 0), 18);
}

// Only what certainly never reached the flash counts as refused: ILLEGAL
// REQUEST, no medium, or a system call the kernel turned down before sending.
TEST_F(AtapiSense, RefusedMeansIllegalRequestNoMediumOrAKernelRefusal) {
  struct Case {
    TransportStatus status;
    uint8_t key;
    int error;
    bool refused;
    uint8_t asc = 0;
  };
  const Case cases[] = {{kStatusCheckCondition, 0x05, 0, true},  {kStatusCheckCondition, 0x25, 0, true},
                        {kStatusCheckCondition, 0x06, 0, false}, {kStatusGood, 0x05, 0, false},
                        {kStatusTransportError, 0, EPERM, true},  {kStatusTransportError, 0, EACCES, true},
                        {kStatusTransportError, 0, ENODEV, true}, {kStatusTransportError, 0, EINVAL, true},
                        {kStatusTransportError, 0, EIO, true},    {kStatusTransportError, 0, ETIMEDOUT, false},
                        {kStatusTransportError, 0, 0, false},     {kStatusCheckCondition, 0x02, EPERM, false},
                        {kStatusCheckCondition, 0x02, 0, true, 0x3A},  {kStatusCheckCondition, 0x02, 0, false, 0x04},
                        {kStatusCheckCondition, 0x06, 0, false, 0x3A}};
  for (const Case& c : cases) {
    recorder->handler = [&](const RecordedCommand&, uint8_t*, SenseData& sense) {
      sense[2] = c.key;
      sense[12] = c.asc;
      recorder->systemError = c.error;
      return c.status;
    };
    atapi->ExecuteCommand(kTestUnitReady, nullptr, 0, kDirNone);
    EXPECT_EQ(atapi->LastCommandRefused(), c.refused) << int(c.status) << " " << int(c.key) << " " << c.error;
  }
}

// Whether a drive was touched: what went out and was not refused.
TEST_F(AtapiSense, CountsTheWritesThatReachedTheDrive) {
  const uint8_t writeBuffer[12] = {0x3B, 0x07};
  const uint8_t downloadMode[12] = {0x3B, 0x01, 0x01};
  const uint8_t vendorData[12] = {0x5A, 0x00, 0x38};
  uint8_t data[4] = {};
  struct Step {
    const uint8_t* cdb;
    uint8_t direction;
    uint32_t length;
    TransportStatus status;
    uint8_t key;
    int error;
    int counted;
  };
  const Step steps[] = {{vendorData, kDirIn, 4, kStatusGood, 0, 0, 0},
                        {kTestUnitReady, kDirNone, 0, kStatusGood, 0, 0, 0},
                        {downloadMode, kDirNone, 0, kStatusGood, 0, 0, 1},  // it changes the drive
                        {vendorData, kDirOut, 0, kStatusGood, 0, 0, 0},
                        {vendorData, kDirOut, 4, kStatusCheckCondition, 0x05, 0, 0},
                        {writeBuffer, kDirNone, 0, kStatusTransportError, 0, EPERM, 0},
                        {vendorData, kDirOut, 4, kStatusGood, 0, 0, 1},
                        {writeBuffer, kDirNone, 0, kStatusGood, 0, 0, 1},
                        {vendorData, kDirOut, 4, kStatusTransportError, 0, ETIMEDOUT, 1},
                        {vendorData, kDirOut, 4, kStatusCheckCondition, 0x02, 0, 1}};
  for (const Step& step : steps) {
    recorder->handler = [&](const RecordedCommand&, uint8_t*, SenseData& sense) {
      sense[2] = step.key;
      recorder->systemError = step.error;
      return step.status;
    };
    const int before = atapi->writesReached;
    atapi->ExecuteCommand(step.cdb, data, step.length, step.direction);
    EXPECT_EQ(atapi->writesReached - before, step.counted) << CdbHex(recorder->commands.back().cdb);
  }
}

TEST(AtapiImp, KnowsWhatEachDrivesPathCarries) {
  VirtualClock clock;
  std::vector<BackendDrive> found = {{"/dev/sr0", "A", "1", CommandFilter::KernelSafeList},
                                     {"/dev/sg1", "B", "1", CommandFilter::None}};
  TAtapiImp atapi(std::make_unique<RecordingBackend>(found), clock, true);
  for (uint8_t opcode : {0x00, 0x03, 0x12, 0x1B, 0x1E, 0x4A, 0x5A}) EXPECT_TRUE(atapi.CanSend(0, opcode)) << int(opcode);
  for (uint8_t opcode : {0x3B, 0xFA, 0xFB, 0xFD}) {
    EXPECT_FALSE(atapi.CanSend(0, opcode)) << int(opcode);
    EXPECT_TRUE(atapi.CanSend(1, opcode)) << int(opcode);
  }
  EXPECT_FALSE(atapi.CanSend(2, 0x00));
}

TEST(AtapiImp, AHeldDriveIsLetGoOnReleaseAndNotesGoToTheTrace) {
  const std::string path = ::testing::TempDir() + "ofs-hold-trace-" + std::to_string(getpid());
  {
    DriveRig rig(2, CommandTrace::Open(path));
    EXPECT_EQ(rig.atapi->ClaimDrive(1), "");
    EXPECT_EQ(*rig.recorder->holdsAlive, 1);
    EXPECT_EQ(rig.atapi->ClaimDrive(0), "");  // one hold at a time
    EXPECT_EQ(*rig.recorder->holdsAlive, 1);
    rig.atapi->ReleaseDrive();
    EXPECT_EQ(*rig.recorder->holdsAlive, 0);
    rig.recorder->holdError = "Drive 1 is busy.";
    EXPECT_EQ(rig.atapi->ClaimDrive(1), "Drive 1 is busy.");
    EXPECT_EQ(rig.atapi->ClaimDrive(7), "There is no drive 7.");
    EXPECT_EQ(rig.recorder->holdsTaken, 3);
  }
  std::ifstream in(path);
  std::vector<std::string> notes;
  for (std::string line; std::getline(in, line);) notes.push_back(line);
  std::filesystem::remove(path);
  EXPECT_EQ(notes, (std::vector<std::string>{"# held drive 1", "# released drive 1", "# held drive 0",
                                             "# released drive 0"}));
}

}  // namespace
}  // namespace ofs::test
