// The OFSFLASH_TRACE line format and the file that collects the lines.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "DriveFixture.h"
#include "drive/CommandTrace.h"
#include "drive/Winfunc.h"

namespace ofs::test {
namespace {

const uint8_t kInquiry[12] = {0x12, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0};

TEST(TraceLine, NoDataAndGoodStatus) {
  const uint8_t cdb[12] = {0x1E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(FormatTraceLine(3, cdb, nullptr, 0, kDirNone, 1, SenseData{}),
            "3 1e0000000100000000000000 none 0 1 - -");
}

TEST(TraceLine, DataCrcAndSense) {
  const uint8_t data[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};  // crc32 cbf43926
  SenseData sense{};
  sense[0] = 0x70;
  sense[2] = 0x05;
  sense[12] = 0x24;
  sense[17] = 0xFF;
  EXPECT_EQ(FormatTraceLine(0, kInquiry, data, 9, kDirIn, 2, sense),
            "0 12000000ff00000000000000 in 9 2 cbf43926 7000050000000000000000002400000000ff");
  EXPECT_EQ(FormatTraceLine(12, kInquiry, data, 9, kDirOut, 0, SenseData{}),
            "12 12000000ff00000000000000 out 9 0 cbf43926 000000000000000000000000000000000000");
  EXPECT_EQ(FormatTraceLine(1, kInquiry, data, 0, kDirIn, 1, sense), "1 12000000ff00000000000000 in 0 1 - -");
  // A refused system call names its error in an eighth field.
  EXPECT_EQ(FormatTraceLine(0, kInquiry, nullptr, 0, kDirNone, 0, SenseData{}, EPERM),
            "0 12000000ff00000000000000 none 0 0 - 000000000000000000000000000000000000 errno=EPERM");
}

class TraceFile : public ::testing::Test {
 protected:
  std::string path = (std::filesystem::temp_directory_path() /
                      ("ofs-trace-" + std::to_string(getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                         .string();
  void TearDown() override { std::filesystem::remove(path); }
  std::vector<std::string> Lines() const {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(TraceFile, EveryCommandAppendsOneLineAtOnce) {
  { std::ofstream(path) << "earlier line\n"; }
  DriveRig transport(2, CommandTrace::Open(path));
  transport.Reply("12", std::vector<uint8_t>(255, 'A'));
  EXPECT_EQ(ReadModelName(*transport.atapi, 1), std::string(24, 'A'));
  const std::vector<uint8_t> inquiryReply(255, 'A');
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08lx", crc32(0, inquiryReply.data(), 255));
  // Read while the transport still lives: lines must not wait for a close.
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_EQ(lines[1], std::string("1 12000000ff00000000000000 in 255 1 ") + crc + " -");
}

TEST_F(TraceFile, EachLineNamesTheErrnoOfItsOwnCommand) {
  DriveRig transport(1, CommandTrace::Open(path));
  int calls = 0;
  transport.recorder->handler = [&](const RecordedCommand&, uint8_t*, SenseData&) {
    const bool refused = calls++ == 1;
    transport.recorder->systemError = refused ? EPERM : 0;
    return refused ? kStatusTransportError : kStatusGood;
  };
  for (int i = 0; i < 3; ++i) TestUnitReady(*transport.atapi, 0);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[1].ends_with(" errno=EPERM")) << lines[1];
  EXPECT_EQ(lines[2].find("errno"), std::string::npos) << lines[2];
}

TEST_F(TraceFile, UnwritablePathGivesNoTrace) {
  EXPECT_EQ(CommandTrace::Open("/nonexistent-dir/trace.txt"), nullptr);
}

}  // namespace
}  // namespace ofs::test
