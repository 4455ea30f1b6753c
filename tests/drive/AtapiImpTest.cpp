// The transport object: its drive table, its target and the sense of the last command.
#include <gtest/gtest.h>

#include "DriveFixture.h"

namespace ofs::test {
namespace {

const uint8_t kTestUnitReady[12] = {};

TEST(AtapiImp, FillsTheTableFromTheBackEnd) {
  VirtualClock clock;
  std::vector<BackendDrive> found = {{"/dev/sg3", "ACME    DVD-RW X1       ", "1.02", false},
                                     {"/dev/sr1", "OTHER   CD-ROM          ", "0.99", true}};
  auto backend = std::make_unique<RecordingBackend>(found);
  RecordingBackend* recorder = backend.get();
  TAtapiImp atapi(std::move(backend), clock, false);
  ASSERT_EQ(atapi.driveCount, 2);
  EXPECT_EQ(atapi.drives[0].devicePath, "/dev/sg3");
  EXPECT_EQ(atapi.drives[0].identification, "ACME    DVD-RW X1       ");
  EXPECT_EQ(atapi.drives[0].revision, "1.02");
  EXPECT_FALSE(atapi.drives[0].flashCommandsAllowed);
  EXPECT_EQ(atapi.drives[1].devicePath, "/dev/sr1");
  EXPECT_TRUE(atapi.drives[1].flashCommandsAllowed);
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

}  // namespace
}  // namespace ofs::test
