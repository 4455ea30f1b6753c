#include "params/Parameter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "params/TempDir.h"
#include "params/Tool.h"

namespace ofs {
namespace {

SParameter Read(const std::string& text) {
  SParameter p;
  ReadParameterBlock(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), p);
  return p;
}

// Every field as the built-in text sets it.
SParameter BuiltIn() {
  SParameter p;
  p.Main = {false, true, "Orva Flash OFS3 Utility", true, true};
  p.ArgumentDefault = {false, false, false, false, -1, 1, false,
                       true,  // Disable98AutoInsertNotification, from the [Argument enabled] line
                       false, false, false};
  p.ArgumentEnabled = {true, true, true, true, true, true, true, true, true, true, true,
                       true, true, true, true, true, true, true, true, true, true};
  p.OtherSettings = {false, false, false, false, true, true, true, true, false, 0, true};
  p.AvailableModelNames = {"ORVA    KZR-3350P2      ", "ORVA    KZW-5520        "};
  p.Title = {"       -- Compatible with Orva OFS3 Utility v1.13. 2005/11/29",
             "       -- Compatible with Orva Merge Utility v1.07. 2005/10/06"};
  return p;
}

// Every field as it reads when its key is missing.
SParameter Absent() {
  SParameter p;
  p.Main = {false, true, "Orva Flash OFS3 Utility", true, true};
  p.ArgumentDefault = {false, false, false, false, -1, 1, false, false, true, false, false};
  p.ArgumentEnabled = {true, true, true, true, true, true, true, true, true, true, true,
                       true, true, true, true, true, true, true, true, false, true};
  p.OtherSettings = {true, true, false, false, true, true, false, true, false, 0, true};
  return p;
}

TEST(DefaultParameterText, IsTheDefaultFileByteForByte) {
  // What "Output Default Parameter File" writes; a merged text is edited from it,
  // so even a change that reads back the same (order, spacing) is a change.
  const std::string expected =
      "[Main]\r\nUpdater=0\r\nShowCaption=1\r\nProgramName=Orva Flash OFS3 Utility\r\nShowVersion=1\r\n"
      "ShowDate=1\r\n"
      "[Argument default value]\r\ns=0\r\ni=0\r\nn=-1\r\nk=0\r\nu=0\r\na=1\r\ny=0\r\nd=0\r\ng=0\r\nr=0\r\n"
      "[Argument enabled]\r\ns=1\r\nc=1\r\nb=1\r\nh=1\r\nv=1\r\ne=1\r\ni=1\r\nn=1\r\nk=1\r\nu=1\r\n"
      "a=1\r\np=1\r\nm=1\r\no=1\r\nf=1\r\nt=1\r\ny=1\r\nd=1\r\ng=1\r\nr=1\r\n"
      "Disable98AutoInsertNotification=1\r\n"
      "[Other settings]\r\nCheckSum=0\r\nHardwareID=0\r\nModelName=0\r\nAvailableModel=0\r\nVerify=1\r\n"
      "NoDisc=1\r\nImmediateAtapi=1\r\nWriteNewCode=1\r\nErasePadRandom=0\r\nErasePadChar=0\r\nTimer=1\r\n"
      "[AvailableModelNames]\r\nORVA    KZR-3350P2      \r\nORVA    KZW-5520        \r\n"
      "[Title]\r\n"
      "       -- Compatible with Orva OFS3 Utility v1.13. 2005/11/29\r\n"
      "       -- Compatible with Orva Merge Utility v1.07. 2005/10/06\r\n";
  EXPECT_EQ(defaultParameterText().size(), 57u);
  EXPECT_EQ(JoinLines(defaultParameterText()), expected);
}

TEST(ReadParameterBlock, EmptyAreaGivesEveryBuiltInValue) {
  const SParameter p = Read(std::string(64, '\0'));
  EXPECT_EQ(p, BuiltIn());
  EXPECT_TRUE(p.ArgumentDefault.Disable98AutoInsertNotification);
  EXPECT_FALSE(p.ArgumentDefault.d);  // "d" is not a prefix of "Disable98..."
  EXPECT_EQ(Read(""), BuiltIn());     // an area of no bytes
  EXPECT_EQ(Read(std::string("\0[Main]\r\nUpdater=1", 17)), BuiltIn());  // what follows a first 0 is ignored
}

TEST(ReadParameterBlock, MissingKeysTakeTheirAbsentValues) {
  EXPECT_EQ(Read("[Nothing]"), Absent());
  EXPECT_EQ(Read("[Main]\r\n[Argument default value]\r\n[Argument enabled]\r\n[Other settings]\r\n"), Absent());
}

TEST(ReadParameterBlock, TheDefaultFileReadsLikeTheBuiltInText) {
  EXPECT_EQ(Read(JoinLines(defaultParameterText())), BuiltIn());
}

TEST(ReadParameterBlock, KeyMissingFromItsSectionComesFromALaterOne) {
  const std::string head = "[Argument default value]\r\ns=0\r\ny=1\r\ni=1\r\n[Argument enabled]\r\n";
  const SParameter with = Read(head + "k=1\r\n");
  EXPECT_TRUE(with.ArgumentDefault.k);
  EXPECT_TRUE(with.ArgumentDefault.y);
  EXPECT_TRUE(with.ArgumentDefault.i);
  EXPECT_FALSE(Read(head + "c=1\r\n").ArgumentDefault.k);
}

TEST(ReadParameterBlock, TextFillingTheWholeAreaEndsAtItsCapacity) {
  const std::string text = "[Main]\r\nProgramName=Edge\r\n[Other settings]\r\nErasePadChar=12";
  // Exactly the text's bytes, no 0 after them: the last line still counts, and
  // nothing past the area is read (the sanitizer build watches for that).
  std::vector<uint8_t> area(text.begin(), text.end());
  SParameter p;
  ReadParameterBlock(area, p);
  EXPECT_EQ(p.Main.ProgramName, "Edge");
  EXPECT_EQ(p.OtherSettings.ErasePadChar, 12);
}

TEST(ReadParameterBlock, TextEndsAtTheFirstZeroByte) {
  const SParameter p = Read(std::string("[Main]\r\nUpdater=1\0\r\nShowDate=0", 30));
  EXPECT_TRUE(p.Main.Updater);
  EXPECT_TRUE(p.Main.ShowDate);
}

struct FieldCase {
  std::string text;
  bool (*check)(const SParameter&);
};

class ParameterValueTest : public testing::TestWithParam<FieldCase> {};

TEST_P(ParameterValueTest, ReadsTheValue) { EXPECT_TRUE(GetParam().check(Read(GetParam().text))); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ParameterValueTest,
    testing::Values(
        FieldCase{"[Main]\r\nProgramName=Tool \r\n", [](const SParameter& p) { return p.Main.ProgramName == "Tool "; }},
        FieldCase{"[Main]\r\nProgramName\r\n", [](const SParameter& p) { return p.Main.ProgramName.empty(); }},
        FieldCase{"[Other settings]\r\nVerify = 1\r\n", [](const SParameter& p) { return !p.OtherSettings.Verify; }},
        FieldCase{"[Other settings]\r\nVerify=2", [](const SParameter& p) { return p.OtherSettings.Verify; }},
        FieldCase{"[Other settings]\r\nErasePadChar=300", [](const SParameter& p) { return p.OtherSettings.ErasePadChar == 44; }},
        FieldCase{"[Other settings]\r\nErasePadChar=-1", [](const SParameter& p) { return p.OtherSettings.ErasePadChar == 255; }},
        FieldCase{"[Argument default value]\r\nn=3\r\na=-7", [](const SParameter& p) { return p.ArgumentDefault.n == 3 && p.ArgumentDefault.a == -7; }},
        FieldCase{"[Argument default value]\r\nn", [](const SParameter& p) { return p.ArgumentDefault.n == 0; }},
        FieldCase{"[Main]\r\nUpdater=yes", [](const SParameter& p) { return !p.Main.Updater; }},
        FieldCase{"[Flash Help]\r\nuse it\r\n\r\n[Updater Help]\r\nrun it",
                  [](const SParameter& p) {
                    return p.FlashHelp == Lines{"use it", ""} && p.UpdaterHelp == Lines{"run it"};
                  }}));

TEST(WriteDefaultParameterFile, WritesFiftySevenCrLfLinesOverAnExistingFile) {
  test::TempDir dir;
  const std::string path = dir.File("default.ini");
  test::WriteText(path, std::string(10000, 'x'));
  WriteDefaultParameterFile(path);
  const std::string written = test::ReadAll(path);
  EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 57);
  EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
  Lines lines;
  SplitLines(written.data(), written.size(), lines);
  EXPECT_EQ(lines, defaultParameterText());
}

}  // namespace
}  // namespace ofs
