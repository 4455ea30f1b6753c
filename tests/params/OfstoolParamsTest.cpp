// Runs the built ofstool: `params` must print the record ReadParameterBlock gives.
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "params/Parameter.h"
#include "params/TempDir.h"
#include "params/Tool.h"

namespace ofs {
namespace {

class OfstoolParamsTest : public testing::Test {
 protected:
  void SetUp() override {
    // The test binary lives in <build>/tests, the tool in <build>/tools.
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    tool_ = (self.parent_path().parent_path() / "tools" / "ofstool").string();
    if (error || !std::filesystem::exists(tool_)) GTEST_SKIP() << "ofstool is not built";
  }

  // Standard output of the command, and its exit code.
  std::string Run(const std::string& arguments, int& exitCode) {
    std::string out;
    FILE* pipe = ::popen((tool_ + " params " + arguments + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    const int status = ::pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
  }

  std::string tool_;
  test::TempDir dir_;
};

TEST_F(OfstoolParamsTest, JsonHoldsEveryFieldOfTheRecord) {
  test::WriteText(dir_.File("p.ini"),
                  "[Main]\r\nProgramName=A\"b\\\x01 \r\n[Argument default value]\r\nn=7\r\n"
                  "[Other settings]\r\nErasePadChar=-1\r\n[Title]\r\nt1");
  int code = -1;
  const std::string json = Run("--json " + dir_.File("p.ini"), code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(json,
            "{\"Main\":{\"Updater\":false,\"ShowCaption\":true,\"ProgramName\":\"A\\\"b\\\\\\u0001 \","
            "\"ShowVersion\":true,\"ShowDate\":true},"
            "\"ArgumentDefault\":{\"s\":false,\"k\":false,\"u\":false,\"i\":false,\"n\":7,\"a\":1,\"y\":false,"
            "\"Disable98AutoInsertNotification\":false,\"d\":true,\"g\":false,\"r\":false},"
            "\"ArgumentEnabled\":{\"s\":true,\"c\":true,\"b\":true,\"h\":true,\"v\":true,\"e\":true,\"k\":true,"
            "\"u\":true,\"i\":true,\"n\":true,\"a\":true,\"p\":true,\"m\":true,\"o\":true,\"f\":true,\"t\":true,"
            "\"y\":true,\"Disable98AutoInsertNotification\":true,\"d\":true,\"g\":false,\"r\":true},"
            "\"OtherSettings\":{\"CheckSum\":true,\"HardwareID\":true,\"ModelName\":false,\"AvailableModel\":false,"
            "\"Verify\":true,\"NoDisc\":true,\"ImmediateAtapi\":false,\"WriteNewCode\":true,"
            "\"ErasePadRandom\":false,\"ErasePadChar\":255,\"Timer\":true},"
            "\"AvailableModelNames\":[],\"Title\":[\"t1\"],\"FlashHelp\":[],\"UpdaterHelp\":[]}\n");
}

TEST_F(OfstoolParamsTest, WithoutFileListsTheBuiltInText) {
  int code = -1;
  const std::string listing = Run("", code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(listing.find("  Disable98AutoInsertNotification = true\n  d = false\n"), std::string::npos);
  EXPECT_NE(listing.find("AvailableModelNames: 2 line(s)\n  \"ORVA    KZR-3350P2      \"\n"), std::string::npos);
}

TEST_F(OfstoolParamsTest, WritesTheDefaultFileAndReportsFailures) {
  int code = -1;
  Run("--write-default " + dir_.File("d.ini"), code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test::ReadAll(dir_.File("d.ini")), JoinLines(defaultParameterText()));
  Run("--write-default " + dir_.File("missing/d.ini"), code);
  EXPECT_EQ(code, 1);
  Run(dir_.File("missing.ini"), code);
  EXPECT_EQ(code, 1);
  Run("--bogus", code);
  EXPECT_EQ(code, 2);
}

}  // namespace
}  // namespace ofs
