// Option toggles, the drive index display, the default parameter file and the
// small window events.
#include <gtest/gtest.h>

#include "app/AppHarness.h"
#include "app/VersionNumber.h"
#include "params/Tool.h"

namespace ofs::test {
namespace {

class MenuCommands : public ::testing::Test {
 protected:
  void SetUp() override { h.Form().FormCreate(); }
  std::vector<std::string> Plain() {
    std::vector<std::string> texts;
    for (const Box& b : h.view.boxes) texts.push_back(b.caption + "|" + b.text);
    return texts;
  }
  AppHarness h;
};

TEST_F(MenuCommands, TogglesAnnounceTheNewStateInThePlainBox) {
  TMainForm& f = h.Form();
  f.Silent1Click();
  EXPECT_TRUE(f.silent);
  f.Silent1Click();
  EXPECT_FALSE(f.silent);
  f.KeepUnusedBlocks1Click();  // the built-in text leaves unused blocks erased
  EXPECT_FALSE(f.eraseUnusedBlocks);
  f.KeepUnusedBlocks1Click();
  EXPECT_TRUE(f.eraseUnusedBlocks);
  f.OverwriteReservedBlocks1Click();
  EXPECT_TRUE(f.overwriteReservedBlocks);
  f.OverwriteReservedBlocks1Click();
  EXPECT_FALSE(f.overwriteReservedBlocks);
  EXPECT_EQ(Plain(), (std::vector<std::string>{"|Silent now", "|Not Silent now", "|Not Erase Unused Blocks now",
                                               "|Erase Unused Blocks now", "|Erase Resrved Blocks now",
                                               "|Not Erase Reserved Blocks now"}));
  EXPECT_TRUE(h.view.menuChecked.count(MenuItem::Silent1) && !h.view.menuChecked[MenuItem::Silent1]);
}

TEST_F(MenuCommands, DriveShowsTheDefaultIndexBeforeALoadAndTheSelectedDriveAfter) {
  h.Form().Drive1Click();
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  h.view.SelectDriveItem(1);
  h.Form().Drive1Click();
  EXPECT_EQ(Plain(), (std::vector<std::string>{"|Default Drive Index : -1", "|Selected Drive Index : 1"}));
}

TEST(MenuCommandsOfParameters, DriveShowsTheDefaultIndexTheParametersGive) {
  AppHarness h;
  h.parameter = ParameterArea({{"n=-1", "n=2"}});
  h.Form().FormCreate();
  h.Form().Drive1Click();
  ASSERT_FALSE(h.view.boxes.empty());
  EXPECT_EQ(h.view.boxes.back().text, "Default Drive Index : 2");
}

TEST_F(MenuCommands, OutputDefaultParameterFileWritesTheBuiltInTextWithCrLf) {
  h.Form().OutputDefaultParameterFile1Click();  // cancelled dialog
  EXPECT_EQ(h.view.lastFilter, "INI file(*.ini)|*.ini|All File (*.*)|*.*");
  const std::string path = h.dir + "/default.ini";
  h.view.saveFiles.push_back(path);
  h.Form().OutputDefaultParameterFile1Click();
  const std::string expected = JoinLines(defaultParameterText());
  std::vector<uint8_t> written(GetFileLength(path));
  ASSERT_TRUE(ReadFileBinary(path, static_cast<uint32_t>(written.size()), written.data()));
  EXPECT_EQ(std::string(written.begin(), written.end()), expected);
  EXPECT_TRUE(h.view.boxes.empty());
}

TEST_F(MenuCommands, OutputDefaultParameterFileThatFailsSaysWhereAndWhy) {
  const std::string path = h.dir + "/missing/default.ini";
  h.view.saveFiles.push_back(path);
  h.Form().OutputDefaultParameterFile1Click();
  EXPECT_EQ(Plain(), std::vector<std::string>{"Error|Cannot write " + path + ": No such file or directory"});
  EXPECT_EQ(GetFileLength(path), 0u);
}

TEST_F(MenuCommands, DriveChoiceChangesTheStatusBarOnly) {
  h.Form().LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  const std::string edit1 = h.view.edit1, edit2 = h.view.edit2;
  h.view.SelectDriveItem(1);
  h.Form().SelDeviceChange();
  EXPECT_EQ(h.view.statusText, "ORVA    KZW-5520         2.10 050930");
  EXPECT_EQ(h.view.edit1, edit1);
  EXPECT_EQ(h.view.edit2, edit2);
}

TEST_F(MenuCommands, WindowEvents) {
  TMainForm& f = h.Form();
  f.EraseFlashROM1Click();
  EXPECT_TRUE(h.view.boxes.empty());
  f.check_verifyClick(true);
  EXPECT_TRUE(f.verify);
  f.check_verifyClick(false);
  EXPECT_FALSE(f.verify);
  f.LoadFirmwareFile(h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container));
  f.FormClose();
  EXPECT_EQ(f.imageBuffer, nullptr);
  EXPECT_EQ(f.scratchBuffer, nullptr);
  EXPECT_FALSE(h.view.closed);
  f.BitBtn4Click();
  EXPECT_TRUE(h.view.closed);
}

struct VersionText {
  const char* text;
  double value;
};

class VersionNumbers : public ::testing::TestWithParam<VersionText> {};

TEST_P(VersionNumbers, ReadTheLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(VersionNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, VersionNumbers,
                         ::testing::Values(VersionText{"1.10", 1.10}, VersionText{"1.09", 1.09},
                                           VersionText{"ABCD", 0.0}, VersionText{"", 0.0},
                                           VersionText{"2.1A", 2.1}, VersionText{" 3.5", 3.5},
                                           VersionText{"+1.5", 1.5}, VersionText{"-1.0", -1.0},
                                           VersionText{"1.0E", 1.0}, VersionText{".5xx", 0.5},
                                           // Letters are no number, even where a C library reads one.
                                           VersionText{"INF1", 0.0}, VersionText{"NANO", 0.0},
                                           VersionText{"-inf", 0.0}, VersionText{"+-1.", 0.0},
                                           VersionText{"-.5", -0.5}));

}  // namespace
}  // namespace ofs::test
