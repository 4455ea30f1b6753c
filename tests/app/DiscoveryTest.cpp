// Which drives a loaded or embedded image offers, and which image the selected drive gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "app/AppHarness.h"
#include "firmware/Firmware.h"

namespace ofs::test {
namespace {

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

struct TestCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> parameters;
  std::vector<std::string> extraModels;
  std::vector<EDriveIndex> listed;
};

class DriveTests : public ::testing::TestWithParam<TestCase> {};

TEST_P(DriveTests, ListExactlyTheDrivesThatPass) {
  const TestCase& c = GetParam();
  AppHarness h;
  h.parameter = ParameterArea(c.parameters, c.extraModels);
  h.Form().FormCreate();
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  EXPECT_TRUE(h.view.boxes.empty()) << h.view.boxes.front().text;
  EXPECT_EQ(h.Form().driveList, c.listed);
  EXPECT_EQ(h.view.drives.size(), c.listed.size());
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

INSTANTIATE_TEST_SUITE_P(
    Switches, DriveTests,
    ::testing::Values(TestCase{"NoTest", {}, {}, {0, 1}},
                      TestCase{"ModelName", {{"ModelName=0", "ModelName=1"}}, {}, {0}},
                      TestCase{"HardwareId", {{"HardwareID=0", "HardwareID=1"}}, {}, {0}},
                      TestCase{"AvailableModelBothListed", {{"AvailableModel=0", "AvailableModel=1"}}, {}, {0, 1}},
                      // An entry with fewer trailing spaces than the drive's 24 characters does not match.
                      TestCase{"AvailableModelShortEntry",
                               {{"AvailableModel=0", "AvailableModel=1"},
                                {"ORVA    KZW-5520        ", "ORVA    KZW-5520"}},
                               {},
                               {0}},
                      TestCase{"CheckSumOfGoodImage", {{"CheckSum=0", "CheckSum=1"}}, {}, {0, 1}}),
    [](const ::testing::TestParamInfo<TestCase>& info) { return std::string(info.param.name); });

TEST(Discovery, ShowsTheImageLineAndItsFixedDataChecksum) {
  AppHarness h;
  h.Form().FormCreate();
  const TestImage image = MakeImage(Drive0Template());
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", image.container));
  const TMainForm& f = h.Form();
  EXPECT_EQ(h.view.edit1, "ORVA    KZR-3350P2       1.02 061201");
  const uint16_t checksum = ComputeFixedDataCheckSum(image.flat.data(), image.flat.size(), f.imageParameter);
  EXPECT_EQ(f.imageChecksum, checksum);
  EXPECT_EQ(h.view.edit2, Hex4(checksum));
  EXPECT_EQ(h.view.statusText, "ORVA    KZR-3350P2       1.00 061201");
}

TEST(Discovery, AcceptanceFailuresOfALoadedImageShowTheCheckOwnText) {
  AppHarness h;
  h.parameter = ParameterArea({{"CheckSum=0", "CheckSum=1"}});
  h.Form().FormCreate();
  build::OfsLayout layout;
  layout.headerChecksum = 0x4242;
  h.Form().LoadFirmwareFile(h.WriteFile("bad.ofs", build::BuildOfs(layout, MakeImage(Drive0Template()).flat)));
  EXPECT_EQ(h.view.events.back(), "box:Error:Check Sum Error!");
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));

  AppHarness u;
  u.parameter = ParameterArea({{"AvailableModel=0", "AvailableModel=1"}});
  u.Form().FormCreate();
  build::InquiryTemplate unknown = Drive0Template();
  unknown.product = "KZX-0000";
  u.Form().LoadFirmwareFile(u.WriteFile("unknown.ofs", MakeImage(unknown).container));
  EXPECT_EQ(u.view.events.back(), "box:Error:This drive is unavailble!");
}

TEST(Discovery, NoMatchedDriveLeavesStartDisabledUntilAFittingLoad) {
  AppHarness h;
  h.parameter = ParameterArea({{"ModelName=0", "ModelName=1"}});
  h.Form().FormCreate();
  build::InquiryTemplate unknown = Drive0Template();
  unknown.product = "KZX-0000";
  h.Form().LoadFirmwareFile(h.WriteFile("unknown.ofs", MakeImage(unknown).container));
  EXPECT_EQ(h.view.events.back(), "box:Error:No matched devices !");
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
  h.Form().LoadFirmwareFile(h.WriteFile("drive1.ofs", MakeImage(Drive1Template()).container));
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
  EXPECT_EQ(h.Form().driveList, (std::vector<EDriveIndex>{1}));
}

TEST(Discovery, WithoutAnImageTheFlashUtilityFailsToLoad) {
  AppHarness h;
  h.Form().FormCreate();
  EXPECT_EQ(h.Form().DiscoverDrives(), std::optional<std::string>("Load OFS Fail!"));
}

TEST(Discovery, AReloadKeepsTheSelectedDriveWhileItStillFits) {
  AppHarness h;
  h.Form().FormCreate();
  const std::string drive0 = h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container);
  h.Form().LoadFirmwareFile(drive0);
  h.view.SelectDriveItem(1);
  h.Form().LoadFirmwareFile(drive0);
  EXPECT_EQ(h.view.selectedDrive, 1);
  EXPECT_EQ(h.view.statusText, "ORVA    KZW-5520         2.10 050930");
}

TEST(Discovery, AReloadFindsTheSelectedDriveByItsModelNameAlone) {
  AppHarness h;
  h.Form().FormCreate();
  const std::string drive0 = h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container);
  h.Form().LoadFirmwareFile(drive0);
  // The line of the selected drive is stale after its 24 characters (another version).
  h.view.drives[1] = "ORVA    KZW-5520         9.99 000000";
  h.view.SelectDriveItem(1);
  h.Form().LoadFirmwareFile(drive0);
  EXPECT_EQ(h.view.selectedDrive, 1);
  EXPECT_EQ(h.view.statusText, "ORVA    KZW-5520         2.10 050930");
}

TEST(Discovery, AReloadFallsBackToTheFirstItemWhenTheSelectedDriveNoLongerFits) {
  AppHarness h;
  h.Form().FormCreate();
  h.Form().LoadFirmwareFile(h.WriteFile("drive1.ofs", MakeImage(Drive1Template()).container));
  h.view.SelectDriveItem(1);
  h.Form().modelNameTest = true;
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  EXPECT_EQ(h.Form().driveList, (std::vector<EDriveIndex>{0}));
  EXPECT_EQ(h.view.selectedDrive, 0);
}

TEST(Discovery, TwoDrivesOfOneModelSelectTheFirstOfThem) {
  SimProfile twins = BuiltInDemoProfile(true);
  twins.drives.push_back(twins.drives[0]);
  twins.drives.push_back(twins.drives[0]);
  AppHarness h(twins);
  h.Form().FormCreate();
  const std::string drive0 = h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container);
  h.Form().LoadFirmwareFile(drive0);
  h.view.SelectDriveItem(3);
  h.Form().LoadFirmwareFile(drive0);
  EXPECT_EQ(h.view.selectedDrive, 0);
}

TEST(Discovery, PreferredDriveWinsOverTheRememberedSelection) {
  AppHarness h;
  h.Form().FormCreate();
  h.Form().preferredDrive = 1;
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  EXPECT_EQ(h.view.selectedDrive, 1);
}

// A drive without a model name is left out and named; only when no drive is left does
// discovery end with the written text.
TEST(Discovery, DriveWithoutModelNameIsLeftOutAndStopsDiscoveryOnlyWhenNoneIsLeft) {
  SimFailure inquiry;
  inquiry.selector = SimCommandSelector{SimCommand::Inquiry};
  inquiry.times = 0;
  for (const bool bothLost : {false, true}) {
    SimProfile profile = BuiltInDemoProfile(true);
    profile.drives[0].failures.push_back(inquiry);
    if (bothLost) profile.drives[1].failures.push_back(inquiry);
    AppHarness h(profile);
    h.Form().FormCreate();
    h.Form().LoadFirmwareFile(h.WriteFile("drive1.ofs", MakeImage(Drive1Template()).container));
    EXPECT_NE(std::find(h.view.events.begin(), h.view.events.end(), "line:Drive 0 (no identity) sim:0"), h.view.events.end());
    if (bothLost) {
      EXPECT_EQ(h.view.events.back(), "box:Error:Get Drive Modelname error");
      EXPECT_TRUE(h.Form().driveList.empty());
    } else {
      EXPECT_EQ(h.Form().driveList, std::vector<EDriveIndex>{1});
      EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
    }
  }
}

// Each discovery starts afresh: a drive that answers again is listed by its identity.
TEST(Discovery, ADriveThatLostItsIdentityOnceIsListedByItAgain) {
  AppHarness h;
  h.Form().FormCreate();
  SimFailure inquiry;
  inquiry.selector = SimCommandSelector{SimCommand::Inquiry};
  h.Drive(0).AddFailure(inquiry);
  const std::string file = h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container);
  h.Form().LoadFirmwareFile(file);
  ASSERT_EQ(h.Form().unidentifiedDrives, std::vector<EDriveIndex>{0});
  h.Form().LoadFirmwareFile(file);
  EXPECT_TRUE(h.Form().unidentifiedDrives.empty());
  EXPECT_EQ(h.view.drives.at(0).find("(no identity)"), std::string::npos) << h.view.drives[0];
}

// The image line of a Pioneer model has no date code, as its drive line has none.
TEST(Discovery, ThePioneerImageLineHasNoExtension) {
  SimProfile profile = BuiltInDemoProfile(true);
  profile.drives[0].vendor = "PIONEER";
  AppHarness h(profile);
  h.Form().FormCreate();
  build::InquiryTemplate pioneer = Drive0Template();
  pioneer.vendor = "PIONEER";
  h.Form().LoadFirmwareFile(h.WriteFile("pioneer.ofs", MakeImage(pioneer).container));
  EXPECT_EQ(h.view.edit1, "PIONEER KZR-3350P2       1.02 ");
}

TEST(Discovery, PioneerDriveThatNeverGetsReadyStopsDiscovery) {
  SimProfile profile = BuiltInDemoProfile(true);
  profile.drives[1].vendor = "PIONEER";
  profile.drives[1].neverReady = true;
  profile.drives[1].mediumPresent = true;
  AppHarness h(profile);
  h.Form().FormCreate();
  EXPECT_EQ(h.view.drives[1].substr(24), " 2.10 ");  // no extension for these drives
  const auto start = h.clock.Now();
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  EXPECT_EQ(h.view.events.back(), "box:Error:Wait For Ready error");
  EXPECT_GE(h.clock.Now() - start, std::chrono::seconds(120));
}

// Updater personality with several embedded images: discovery keeps the drives
// that fit any of them; matching picks the one for the selected drive.
class UpdaterMatching : public ::testing::Test {
 protected:
  void SetUp() override {
    h.parameter = ParameterArea({{"Updater=0", "Updater=1"}, {"ModelName=0", "ModelName=1"},
                                 {"HardwareID=0", "HardwareID=1"}});
  }
  AppHarness h;
};

TEST_F(UpdaterMatching, TwoImagesForTwoDrivesMatchTheSelectedOne) {
  const TestImage forDrive0 = MakeImage(Drive0Template(), 6, 1);
  h.ofs3[0] = MakeImage(Drive1Template(), 6, 2).container;
  h.ofs3[2] = forDrive0.container;
  h.Form().FormCreate();
  TMainForm& f = h.Form();
  ASSERT_FALSE(f.startupFailed) << h.view.boxes.front().text;
  EXPECT_EQ(f.driveList, (std::vector<EDriveIndex>{0, 1}));
  EXPECT_EQ(std::vector<uint8_t>(f.imageBuffer.get(), f.imageBuffer.get() + f.imageLength), forDrive0.flat);
  EXPECT_EQ(h.view.edit1, "ORVA    KZR-3350P2       1.02 ");
  EXPECT_FALSE(f.bufferLoaded[0]);
  EXPECT_EQ(f.bufferImage[0], nullptr);
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(UpdaterMatching, TwoImagesForOneDriveAreMoreThanOne) {
  h.ofs3[0] = MakeImage(Drive0Template(), 6, 1).container;
  h.ofs3[1] = MakeImage(Drive0Template("1.03"), 6, 2).container;
  h.Form().FormCreate();
  EXPECT_EQ(h.view.BoxTexts(),
            (std::vector<std::string>{"The number of conforming OFS are more than one.\n"}));
  EXPECT_TRUE(h.view.terminationRequested);
}

TEST_F(UpdaterMatching, ImagesForOtherHardwareDoNotConform) {
  // Tests off: both drives listed; matching still compares model and hardware ID.
  h.parameter = ParameterArea({{"Updater=0", "Updater=1"}});
  build::InquiryTemplate c3 = Drive1Template();
  c3.hardwareId = "C3";
  h.ofs3[0] = MakeImage(Drive1Template(), 6, 1).container;
  h.ofs3[1] = MakeImage(c3, 6, 2).container;
  h.Form().FormCreate();
  EXPECT_EQ(h.Form().driveList, (std::vector<EDriveIndex>{0, 1}));
  EXPECT_EQ(h.view.BoxTexts(), (std::vector<std::string>{"No conforming OFS"}));
}

TEST_F(UpdaterMatching, ADriveThatDiffersFromEveryCandidateIsLeftOut) {
  build::InquiryTemplate other = Drive1Template();
  other.product = "KZX-0000";
  h.ofs3[0] = MakeImage(Drive0Template(), 6, 1).container;
  h.ofs3[1] = MakeImage(other, 6, 2).container;
  h.Form().FormCreate();
  EXPECT_EQ(h.Form().driveList, (std::vector<EDriveIndex>{0}));
  EXPECT_FALSE(h.Form().startupFailed);
}

TEST_F(UpdaterMatching, AnImageOfAnotherModelWithTheSameHardwareIdDoesNotConform) {
  h.parameter = ParameterArea({{"Updater=0", "Updater=1"}});
  build::InquiryTemplate otherModel = Drive0Template();
  otherModel.product = "KZX-0000";
  const TestImage forDrive0 = MakeImage(Drive0Template(), 6, 2);
  h.ofs3[0] = MakeImage(otherModel, 6, 1).container;
  h.ofs3[1] = forDrive0.container;
  h.Form().FormCreate();
  TMainForm& f = h.Form();
  ASSERT_FALSE(f.startupFailed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(std::vector<uint8_t>(f.imageBuffer.get(), f.imageBuffer.get() + f.imageLength), forDrive0.flat);
}

TEST_F(UpdaterMatching, ACandidateThatFailsItsChecksumIsNeverTheWorkingImage) {
  h.parameter = ParameterArea({{"Updater=0", "Updater=1"}, {"CheckSum=0", "CheckSum=1"}});
  build::OfsLayout corrupt;
  corrupt.headerChecksum = 0x4242;
  const TestImage good = MakeImage(Drive0Template(), 6, 2);
  h.ofs3[0] = build::BuildOfs(corrupt, MakeImage(Drive0Template(), 6, 1).flat);
  h.ofs3[1] = good.container;
  h.Form().FormCreate();
  TMainForm& f = h.Form();
  ASSERT_FALSE(f.startupFailed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(std::vector<uint8_t>(f.imageBuffer.get(), f.imageBuffer.get() + f.imageLength), good.flat);
  EXPECT_EQ(f.bufferImage[0], nullptr);
}

}  // namespace
}  // namespace ofs::test
