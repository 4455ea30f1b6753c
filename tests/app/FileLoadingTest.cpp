// The load button: every message of the loader, zip archives, and the private
// temporary file that must be gone after every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/AppHarness.h"
#include "firmware/ImageSize.h"
#include "app/ZipArchive.h"
#include "params/Tool.h"

namespace ofs::test {
namespace {

// A zip archive of a 20000-byte member and `after`, with a byte of the first member's compressed data changed.
std::string WithFirstMemberDamaged(AppHarness& h, const std::vector<std::string>& after) {
  std::vector<uint8_t> data(20000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  std::vector<std::string> members{h.WriteFile("m.ofs", data)};
  members.insert(members.end(), after.begin(), after.end());
  const std::string archive = h.WriteZip("ok.zip", members);
  std::vector<uint8_t> bytes(GetFileLength(archive));
  ReadFileBinary(archive, static_cast<uint32_t>(bytes.size()), bytes.data());
  bytes[60] ^= 0xFF;
  return h.WriteFile("damaged.zip", bytes);
}

class FileLoading : public ::testing::Test {
 protected:
  void SetUp() override { h.Form().FormCreate(); }
  // Loads and returns the boxes the load showed.
  std::vector<std::string> Load(const std::string& path) {
    const std::size_t before = h.view.boxes.size();
    h.Form().LoadFirmwareFile(path);
    std::vector<std::string> texts;
    for (std::size_t i = before; i < h.view.boxes.size(); ++i) {
      EXPECT_EQ(h.view.boxes[i].caption, "Error");
      texts.push_back(h.view.boxes[i].text);
    }
    EXPECT_TRUE(h.LeftoverTemporaryFiles().empty());
    return texts;
  }
  std::string Drive0File() { return h.WriteFile("drive0.ofs", MakeImage(Drive0Template()).container); }
  using Texts = std::vector<std::string>;
  AppHarness h;
};

TEST_F(FileLoading, TheButtonOpensTheDialogWithItsFilterAndCancelDoesNothing) {
  h.Form().BitBtn1Click();
  EXPECT_EQ(h.view.lastFilter, "OFS file(*.ofs)|*.ofs;*.zip|All File (*.*)|*.*");
  EXPECT_TRUE(h.view.boxes.empty());
  h.view.openFiles.push_back(Drive0File());
  h.Form().BitBtn1Click();
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(FileLoading, MissingOrEmptyFileKeepsStartAsItWas) {
  EXPECT_EQ(Load(Drive0File()), Texts{});
  EXPECT_EQ(Load(h.dir + "/missing.ofs"), Texts{"Get OFS File Length Fail !"});
  EXPECT_EQ(Load(h.WriteFile("empty.ofs", {})), Texts{"Get OFS File Length Fail !"});
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(FileLoading, NeitherContainerNorZipIsNotValid) {
  EXPECT_EQ(Load(Drive0File()), Texts{});
  EXPECT_EQ(Load(h.WriteFile("text.ofs", {'h', 'e', 'l', 'l', 'o'})), Texts{"Not Valid OFS !"});
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));  // the archive step comes before Start is disabled
  EXPECT_EQ(Load(h.WriteZip("empty.zip", {})), Texts{"Not Valid OFS !"});
  // A Philips image given directly does not start with "OR" and is no zip archive.
  EXPECT_EQ(Load(h.WriteFile("philips.bin", MakePhilipsFile(2 * 16384))), Texts{"Not Valid OFS !"});
}

TEST_F(FileLoading, ZipWithTwoMembersLoadsTheSecond) {
  const std::string first = h.WriteFile("a.ofs", MakeImage(Drive1Template()).container);
  const std::string second = Drive0File();
  EXPECT_EQ(Load(h.WriteZip("two.zip", {first, second})), Texts{});
  EXPECT_EQ(h.view.edit1, "ORVA    KZR-3350P2       1.02 061201");
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(FileLoading, ZipWhoseLastMemberIsEmptyCannotBeLoaded) {
  const std::string empty = h.WriteFile("empty.ofs", {});
  EXPECT_EQ(Load(h.WriteZip("last-empty.zip", {Drive0File(), empty})), Texts{"GetFileLength Error!"});
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(FileLoading, ContainerWithoutImageSizeIsAnOfsLengthError) {
  EXPECT_EQ(Load(h.WriteFile("short.ofs", {'O', 'R', 'V', 'A'})), Texts{"GetOFSLength Error!"});
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
}

// An OFS3 header alone, claiming `banks` banks of 64 KiB each.
std::vector<uint8_t> Ofs3Header(uint32_t banks) {
  std::vector<uint8_t> header(60, 0);
  const std::string magic = "ORVA FILE SYSTEM";
  std::copy(magic.begin(), magic.end(), header.begin());
  header[24] = '3';
  for (int i = 0; i < 4; ++i) {
    header[36 + i] = static_cast<uint8_t>(banks >> (8 * i));
    header[40 + i] = static_cast<uint8_t>(0x10000u >> (8 * i));
  }
  return header;
}

TEST_F(FileLoading, HeaderClaimingMoreThan64MiBIsALengthErrorAndLeavesNoImage) {
  EXPECT_EQ(Load(Drive0File()), Texts{});
  // 128 MiB is refused before anything is allocated; 64 MiB is still taken and fails to parse.
  EXPECT_EQ(Load(h.WriteFile("huge.ofs", Ofs3Header(0x800))), Texts{"GetOFSLength Error!"});
  EXPECT_EQ(h.Form().imageBuffer, nullptr);
  EXPECT_EQ(h.Form().imageLength, 0u);
  EXPECT_EQ(Load(h.WriteFile("limit.ofs", Ofs3Header(0x400))), Texts{"Not Valid OFS !"});
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
}

// Sparse files: their size costs no disk and no time unless they are read.
std::string Resized(const std::string& path, uintmax_t size) {
  std::filesystem::resize_file(path, size);
  return path;
}

TEST_F(FileLoading, FileLargerThanAnyImageIsRefusedByItsSizeAlone) {
  EXPECT_EQ(Load(Drive0File()), Texts{});
  // A valid header for 1 MiB: only the file's size rules it out.
  EXPECT_EQ(Load(Resized(h.WriteFile("padded.ofs", Ofs3Header(16)), kMaxFileBytes + 1)), Texts{"GetOFSLength Error!"});
  EXPECT_EQ(h.Form().imageBuffer, nullptr);
  EXPECT_NE(Load(Resized(h.WriteFile("full.ofs", Ofs3Header(16)), kMaxFileBytes)), Texts{"GetOFSLength Error!"});
}

TEST_F(FileLoading, LastMemberAboveTheSizeLimitGetsTheTextOfTheSameFileChosenDirectly) {
  const std::string huge = Resized(h.WriteFile("padded.ofs", Ofs3Header(16)), kMaxFileBytes + 1);
  const Texts direct = Load(huge);
  EXPECT_EQ(direct, Texts{"GetOFSLength Error!"});
  const std::string archive = h.WriteZip("padded.zip", {Drive0File(), huge});
  EXPECT_EQ(Load(Drive0File()), Texts{});
  EXPECT_EQ(Load(archive), direct);
  EXPECT_EQ(h.Form().imageBuffer, nullptr);
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(FileLoading, DamagedMemberBeforeTheLastDoesNotStopTheLoad) {
  EXPECT_EQ(Load(WithFirstMemberDamaged(h, {Drive0File()})), Texts{});
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

TEST_F(FileLoading, TemporaryFolderThatCannotBeWrittenIsNamed) {
  const std::string archive = h.WriteZip("drive0.zip", {Drive0File()});
  const std::string folder = h.dir + "/missing";
  setenv("TMPDIR", folder.c_str(), 1);  // the harness puts it back
  EXPECT_EQ(Load(archive), Texts{"Cannot unpack the archive: no temporary file can be written in " + folder +
                                 ": No such file or directory"});
}

TEST_F(FileLoading, PhilipsFileWithoutBodyOrAboveTheImageLimitIsALengthError) {
  const std::vector<uint8_t> name{'P', 'h', 'i', 'l', 'i', 'p', 's'};
  const std::string empty = Resized(h.WriteFile("empty.bin", name), 40);
  EXPECT_EQ(Load(h.WriteZip("empty.zip", {empty})), Texts{"GetOFSLength Error!"});
  const std::string huge = Resized(h.WriteFile("huge.bin", name), kMaxImageBytes + 41);
  EXPECT_EQ(Load(h.WriteZip("huge.zip", {huge})), Texts{"GetOFSLength Error!"});
  EXPECT_EQ(h.Form().imageBuffer, nullptr);
}

TEST_F(FileLoading, ImageThatFailsToParseEndsTheLoadWithoutDiscovery) {
  EXPECT_EQ(Load(Drive0File()), Texts{});
  const std::vector<uint8_t> container = MakeImage(Drive1Template()).container;
  const std::vector<uint8_t> truncated(container.begin(), container.begin() + container.size() / 2);
  const std::vector<std::string> drivesBefore = h.view.drives;
  const std::size_t commandsBefore = h.Drive(1).CommandLog().size();
  EXPECT_EQ(Load(h.WriteFile("truncated.ofs", truncated)), Texts{"Not Valid OFS !"});
  EXPECT_EQ(h.Form().imageBuffer, nullptr);
  EXPECT_FALSE(h.view.IsEnabled(Control::BitBtn2));
  EXPECT_EQ(h.view.drives, drivesBefore);
  EXPECT_EQ(h.Drive(1).CommandLog().size(), commandsBefore);
}

TEST_F(FileLoading, PhilipsImageInsideAZipListsEveryDriveAndOfsAfterItClearsTheFlag) {
  const std::string philips = h.WriteFile("philips.bin", MakePhilipsFile(2 * 16384));
  EXPECT_EQ(Load(h.WriteZip("philips.zip", {philips})), Texts{});
  EXPECT_TRUE(h.Form().philipsImage);
  EXPECT_EQ(h.Form().imageLength, 2u * 16384);  // the file less its name and trailer
  EXPECT_EQ(h.view.edit1, "ORVA    KZD-7740B");
  EXPECT_EQ(h.Form().driveList, (std::vector<EDriveIndex>{0, 1}));

  h.Form().modelNameTest = true;
  EXPECT_EQ(Load(Drive0File()), Texts{});
  EXPECT_FALSE(h.Form().philipsImage);
  EXPECT_EQ(h.Form().driveList, (std::vector<EDriveIndex>{0}));
}

TEST(ZipArchive, MemberAboveTheLimitIsNotExtracted) {
  AppHarness h;
  const std::string member = h.WriteFile("big.ofs", std::vector<uint8_t>(4096, 'O'));
  const std::string archive = h.WriteZip("big.zip", {member});
  {
    ZipArchive zip(archive);
    ASSERT_EQ(zip.MemberCount(), 1u);
    std::optional<TemporaryFile> file = TemporaryFile::Create();
    ASSERT_TRUE(file);
    EXPECT_EQ(zip.ExtractLastInto(*file, 4095), ZipExtraction::TooLarge);
  }
  ZipArchive zip(archive);
  std::optional<TemporaryFile> file = TemporaryFile::Create();
  EXPECT_EQ(zip.ExtractLastInto(*file, 4096), ZipExtraction::Extracted);
}

TEST(ZipArchive, MemberBeforeTheLastIsNotUnpacked) {
  AppHarness h;
  const std::string big = h.WriteFile("big.ofs", std::vector<uint8_t>(4096, 'O'));
  ZipArchive zip(h.WriteZip("two.zip", {big, h.WriteFile("small.ofs", {'O', 'R'})}));
  std::optional<TemporaryFile> file = TemporaryFile::Create();
  ASSERT_TRUE(file);
  EXPECT_EQ(zip.ExtractLastInto(*file, 4095), ZipExtraction::Extracted);
  EXPECT_EQ(GetFileLength(file->path()), 2u);
}

TEST(ZipArchive, DamagedMemberIsNotExtracted) {
  AppHarness h;
  EXPECT_EQ(ExtractLastZipMember(WithFirstMemberDamaged(h, {})).result, ZipExtraction::NotValid);
  EXPECT_TRUE(h.LeftoverTemporaryFiles().empty());
}

}  // namespace
}  // namespace ofs::test
