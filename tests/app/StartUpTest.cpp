// Start-up of both personalities: options, menus, caption, the drive list or the
// embedded images, and every message that ends start-up.
#include <gtest/gtest.h>

#include <map>

#include "app/AppHarness.h"

namespace ofs::test {
namespace {

const std::vector<std::string> kNotice = {
    "Important Notice:",
    "You must have the Administrator privilege",
    " to execute this utility.",
    "Do not restart or shutdown your system",
    " until it prompts you to do so.",
    "Violating the aformentioned may damage",
    " your drive!",
};

const std::string kDrive0Line = "ORVA    KZR-3350P2       1.00 061201";
const std::string kDrive1Line = "ORVA    KZW-5520         2.10 050930";

TEST(StartUp, FlashUtilityListsEveryDriveAndPostsTheNotice) {
  AppHarness h;
  h.Form().FormCreate();
  EXPECT_FALSE(h.Form().startupFailed);
  EXPECT_EQ(h.view.drives, (std::vector<std::string>{kDrive0Line, kDrive1Line}));
  EXPECT_EQ(h.view.selectedDrive, 0);
  EXPECT_EQ(h.view.statusText, kDrive0Line.substr(0, 36));
  EXPECT_TRUE(h.view.IsEnabled(Control::SelDevice));
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
  EXPECT_TRUE(h.Form().driveList.empty());
  EXPECT_EQ(h.view.lines, kNotice);
  EXPECT_TRUE(h.view.boxes.empty());
  EXPECT_EQ(h.view.caption, "Orva Flash OFS3 Utility v.5.08.02 2006/07/14");
  EXPECT_EQ(h.view.visible.count(Control::Panel2), 0u);
}

TEST(StartUp, FlashUtilityStartsWithVerifyOffWhateverTheParameterSays) {
  AppHarness h;  // the built-in text says Verify=1
  h.Form().FormCreate();
  EXPECT_FALSE(h.Form().verify);
  EXPECT_FALSE(h.view.verifyChecked);
}

TEST(StartUp, SilentLeavesTheMessageListEmptyAndChecksItsMenuItem) {
  AppHarness h;
  h.parameter = ParameterArea({{"s=0", "s=1"}});
  h.Form().FormCreate();
  EXPECT_TRUE(h.Form().silent);
  EXPECT_TRUE(h.view.allLines.empty());
  EXPECT_TRUE(h.view.menuChecked[MenuItem::Silent1]);
}

TEST(StartUp, MenuVisibilityAndChecksFollowTheParameterBlock) {
  AppHarness h;
  // The first "c=1" and "k=0"/"u=0" lines belong to the sections the keys are read from.
  h.parameter = ParameterArea({{"c=1", "c=0"}, {"k=0", "k=1"}, {"u=0", "u=1"}, {"n=-1", "n=3"}});
  h.Form().FormCreate();
  EXPECT_FALSE(h.view.menuVisible[MenuItem::CheckOFSFile1]);
  EXPECT_TRUE(h.view.menuVisible[MenuItem::CheckOFSBuffer1]);
  EXPECT_TRUE(h.view.menuVisible[MenuItem::Disable98MEAutoDetectDrive1]);
  EXPECT_EQ(h.view.menuVisible.size(), 16u);
  EXPECT_TRUE(h.view.menuChecked[MenuItem::OverwriteReservedBlocks1]);
  EXPECT_TRUE(h.view.menuChecked[MenuItem::KeepUnusedBlocks1]);
  EXPECT_FALSE(h.view.menuChecked[MenuItem::Silent1]);
  EXPECT_TRUE(h.Form().overwriteReservedBlocks);
  EXPECT_FALSE(h.Form().eraseUnusedBlocks);  // "Keep Unused Blocks" checked
  EXPECT_EQ(h.Form().defaultDriveIndex, 3);
}

// One key of the parameter block against the one menu item it drives: switching the key
// alone changes that item alone.
struct MenuKey {
  const char* builtIn;  // the key's line as the built-in text has it (first occurrence)
  const char* changed;
  MenuItem item;
};

// Flash-utility start-up with the key's line replaced.
class MenuTable : public ::testing::TestWithParam<MenuKey> {
 protected:
  void SetUp() override {
    h.parameter = ParameterArea({{GetParam().builtIn, GetParam().changed}});
    h.Form().FormCreate();
  }
  AppHarness h;
};

class MenuVisibility : public MenuTable {};

TEST_P(MenuVisibility, FollowsItsOwnArgumentEnabledKey) {
  const MenuKey& k = GetParam();
  ASSERT_EQ(h.view.menuVisible.size(), static_cast<std::size_t>(kMenuItemCount));
  for (const auto& [item, visible] : h.view.menuVisible) {
    EXPECT_EQ(visible, item != k.item) << static_cast<int>(item);
  }
}

// Every "x=1" below is first met in [Argument enabled]: [Argument default value] has "x=0" or lacks x.
INSTANTIATE_TEST_SUITE_P(
    Table, MenuVisibility,
    ::testing::Values(MenuKey{"s=1", "s=0", MenuItem::Silent1}, MenuKey{"c=1", "c=0", MenuItem::CheckOFSFile1},
                      MenuKey{"b=1", "b=0", MenuItem::CheckOFSBuffer1}, MenuKey{"h=1", "h=0", MenuItem::Help1},
                      MenuKey{"v=1", "v=0", MenuItem::VersionInformation1},
                      MenuKey{"e=1", "e=0", MenuItem::EraseFlashROM1}, MenuKey{"n=1", "n=0", MenuItem::Drive1},
                      MenuKey{"k=1", "k=0", MenuItem::OverwriteReservedBlocks1},
                      MenuKey{"u=1", "u=0", MenuItem::KeepUnusedBlocks1},
                      MenuKey{"p=1", "p=0", MenuItem::OutputDefaultParameterFile1},
                      MenuKey{"m=1", "m=0", MenuItem::OutputParameterBuffer1},
                      MenuKey{"o=1", "o=0", MenuItem::OutputOFSBuffer1},
                      MenuKey{"f=1", "f=0", MenuItem::GetFixDataCheckSum1},
                      MenuKey{"t=1", "t=0", MenuItem::GetTestParameterFile1},
                      MenuKey{"y=1", "y=0", MenuItem::IgnoreAskingQuestions1},
                      MenuKey{"Disable98AutoInsertNotification=1", "Disable98AutoInsertNotification=0",
                              MenuItem::Disable98MEAutoDetectDrive1}));

class MenuCheck : public MenuTable {};

TEST_P(MenuCheck, FollowsItsOwnArgumentDefaultKey) {
  // With the built-in text: the 98/ME item's key is missing from [Argument default value]
  // and is taken from the "=1" line of the next section.
  std::map<MenuItem, bool> wanted = {{MenuItem::Silent1, false},
                                     {MenuItem::OverwriteReservedBlocks1, false},
                                     {MenuItem::KeepUnusedBlocks1, false},
                                     {MenuItem::IgnoreAskingQuestions1, false},
                                     {MenuItem::Disable98MEAutoDetectDrive1, true}};
  wanted[GetParam().item] = !wanted[GetParam().item];
  EXPECT_EQ(h.view.menuChecked, wanted);
}

// Every "x=0" below is first met in [Argument default value]; "g" gives its line to the key
// the built-in text leaves out there.
INSTANTIATE_TEST_SUITE_P(Table, MenuCheck,
                         ::testing::Values(MenuKey{"s=0", "s=1", MenuItem::Silent1},
                                           MenuKey{"k=0", "k=1", MenuItem::OverwriteReservedBlocks1},
                                           MenuKey{"u=0", "u=1", MenuItem::KeepUnusedBlocks1},
                                           MenuKey{"y=0", "y=1", MenuItem::IgnoreAskingQuestions1},
                                           MenuKey{"g=0", "Disable98AutoInsertNotification=0",
                                                   MenuItem::Disable98MEAutoDetectDrive1}));

struct CaptionCase {
  const char* showCaption;
  const char* showVersion;
  const char* showDate;
  const char* caption;
};

class Caption : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(Caption, IsBuiltFromTheThreeFlags) {
  const CaptionCase& c = GetParam();
  AppHarness h;
  h.parameter = ParameterArea({{"ShowCaption=1", c.showCaption},
                               {"ShowVersion=1", c.showVersion},
                               {"ShowDate=1", c.showDate},
                               {"ProgramName=Orva Flash OFS3 Utility", "ProgramName=Tool"}});
  h.Form().FormCreate();
  EXPECT_EQ(h.view.caption, c.caption);
}

INSTANTIATE_TEST_SUITE_P(Rules, Caption,
                         ::testing::Values(CaptionCase{"ShowCaption=0", "ShowVersion=1", "ShowDate=1", ""},
                                           CaptionCase{"ShowCaption=1", "ShowVersion=0", "ShowDate=0", "Tool "},
                                           CaptionCase{"ShowCaption=1", "ShowVersion=1", "ShowDate=0",
                                                       "Tool v.5.08.02 "},
                                           CaptionCase{"ShowCaption=1", "ShowVersion=0", "ShowDate=1",
                                                       "Tool 2006/07/14"},
                                           CaptionCase{"ShowCaption=1", "ShowVersion=1", "ShowDate=1",
                                                       "Tool v.5.08.02 2006/07/14"}));

TEST(StartUp, FlashUtilityWithoutDrivesEndsWithNoDriveFound) {
  SimProfile none = BuiltInDemoProfile(true);
  none.drives.clear();
  AppHarness h(none);
  h.Form().FormCreate();
  // The written first line, then why, as the transport tells it.
  EXPECT_EQ(h.view.events,
            (std::vector<std::string>{"box:Error:No Drive found !\n\nThe simulation profile lists no drive."}));
  EXPECT_TRUE(h.view.terminationRequested);
  EXPECT_TRUE(h.Form().startupFailed);
}

TEST(StartUp, SecondInstanceStopsBeforeEverythingElse) {
  AppHarness h;
  h.platform.singleInstance = false;
  h.Form().FormCreate();
  EXPECT_TRUE(h.view.terminationRequested);
  EXPECT_EQ(h.platform.lastTitle, kApplicationTitle);
  EXPECT_TRUE(h.view.events.empty());
  EXPECT_TRUE(h.view.drives.empty());
  EXPECT_TRUE(h.view.caption.empty());
  EXPECT_TRUE(h.view.menuVisible.empty());
  EXPECT_EQ(h.Form().scratchBuffer, nullptr);
  EXPECT_TRUE(h.Drive(0).CommandLog().empty());
}

// Updater personality: the parameter block says Updater=1 and the drive tests are on.
std::vector<uint8_t> UpdaterParameters() {
  return ParameterArea({{"Updater=0", "Updater=1"}, {"ModelName=0", "ModelName=1"}, {"HardwareID=0", "HardwareID=1"}});
}

class UpdaterSingleImage : public ::testing::TestWithParam<int> {};

TEST_P(UpdaterSingleImage, BecomesTheWorkingImageFromAnyPosition) {
  AppHarness h;
  h.parameter = UpdaterParameters();
  const TestImage image = MakeImage(Drive0Template());
  h.ofs3[GetParam()] = image.container;
  h.Form().FormCreate();
  TMainForm& f = h.Form();
  ASSERT_FALSE(f.startupFailed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_TRUE(f.singleImage);
  EXPECT_EQ(f.imageLength, image.flat.size());
  EXPECT_EQ(std::vector<uint8_t>(f.imageBuffer.get(), f.imageBuffer.get() + f.imageLength), image.flat);
  EXPECT_EQ(f.driveList, (std::vector<EDriveIndex>{0}));
  EXPECT_EQ(h.view.drives, (std::vector<std::string>{"ORVA    KZR-3350P2       1.00 "}));
  EXPECT_EQ(h.view.edit1, "ORVA    KZR-3350P2       1.02 ");
  EXPECT_EQ(h.view.edit2.size(), 4u);
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
  EXPECT_FALSE(h.view.visible[Control::Panel2]);
  EXPECT_TRUE(f.verify);  // the updater keeps the parameter's Verify
  EXPECT_EQ(h.view.lines, kNotice);
}

INSTANTIATE_TEST_SUITE_P(Positions, UpdaterSingleImage, ::testing::Values(0, 1, 2));

TEST(StartUp, UpdaterWithoutUsableImageIsCorruptAndStaysOpen) {
  AppHarness h;
  h.parameter = UpdaterParameters();
  const std::vector<uint8_t> container = MakeImage(Drive0Template()).container;
  const std::vector<uint8_t> truncated(container.begin(), container.begin() + container.size() / 2);
  h.ofs3[0] = truncated;
  h.ofs3[2] = truncated;
  h.Form().FormCreate();
  EXPECT_EQ(h.view.events, (std::vector<std::string>{"box:Error:Updater is corrupt !"}));
  EXPECT_FALSE(h.view.terminationRequested);
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
  EXPECT_FALSE(h.view.IsEnabled(Control::SelDevice));
}

TEST(StartUp, UpdaterWithCorruptPhilipsImageStaysOpen) {
  AppHarness h;
  h.parameter = UpdaterParameters();
  std::vector<uint8_t> cvt = build::BuildPhilips("Philips", {}, 0, 0, true);
  h.cvt = cvt;
  h.Form().FormCreate();
  EXPECT_EQ(h.view.BoxTexts(), (std::vector<std::string>{"Updater is corrupt !"}));
  EXPECT_EQ(h.Form().imageBuffer, nullptr);
  EXPECT_FALSE(h.view.terminationRequested);
}

TEST(StartUp, UpdaterWithPhilipsImageListsEveryDrive) {
  AppHarness h;
  h.parameter = UpdaterParameters();
  std::vector<uint8_t> body(3 * 16384 - 40);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i);
  h.cvt = build::BuildPhilips("Philips image", body, 0x1111, 0x2222, true);
  h.Form().FormCreate();
  TMainForm& f = h.Form();
  ASSERT_FALSE(f.startupFailed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_TRUE(f.philipsImage);
  EXPECT_EQ(f.driveList, (std::vector<EDriveIndex>{0, 1}));
  EXPECT_EQ(h.view.edit1, "ORVA    KZD-7740B");
  uint32_t sum = 0;
  for (uint32_t i = 0; i < f.imageLength; ++i) sum += f.imageBuffer[i];
  char expected[8];
  std::snprintf(expected, sizeof expected, "%04X", sum & 0xFFFF);
  EXPECT_EQ(h.view.edit2, expected);
}

TEST(StartUp, UpdaterWhoseImageFitsNoDriveEnds) {
  AppHarness h;
  h.parameter = UpdaterParameters();
  build::InquiryTemplate other = Drive0Template();
  other.product = "KZX-0000";
  h.ofs3[0] = MakeImage(other).container;
  h.Form().FormCreate();
  EXPECT_EQ(h.view.events, (std::vector<std::string>{"box:Error:No matched devices !"}));
  EXPECT_TRUE(h.view.terminationRequested);
}

TEST(StartUp, UpdaterImageFailingTheAcceptanceCheckIsCorrupt) {
  AppHarness h;
  h.parameter = ParameterArea({{"Updater=0", "Updater=1"}, {"CheckSum=0", "CheckSum=1"}});
  build::OfsLayout layout;
  layout.headerChecksum = 0x1234;
  h.ofs3[1] = build::BuildOfs(layout, build::MakeFlatImage(0x40000, 3, {Drive0Template()}));
  h.Form().FormCreate();
  EXPECT_EQ(h.view.BoxTexts(), (std::vector<std::string>{"Updater is corrupt !"}));
  EXPECT_TRUE(h.view.terminationRequested);
}

}  // namespace
}  // namespace ofs::test
