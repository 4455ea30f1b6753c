// ofstool flash as a user runs it: a merged updater copy of ofstool on a
// simulated profile, and the flash-utility path with its options.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/AppHarness.h"
#include "params/Tool.h"

namespace ofs::test {
namespace {

struct RunResult {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr char kProfile[] =
    "clock = virtual\n"
    "[drive]\nvendor = ORVA\nproduct = KZR-3350P2\nrevision = 1.00\nhardware_id = A1\ndate_code = 061201\n"
    "capabilities = 11 13\n"
    "[drive]\nvendor = ORVA\nproduct = KZW-5520\nrevision = 2.10\nhardware_id = B2\ndate_code = 050930\n"
    "[drive]\nvendor = ORVA\nproduct = KZX-9999\nrevision = 1.00\nhardware_id = Z9\ndate_code = 070101\n";

class FlashCommand : public ::testing::Test {
 protected:
  void SetUp() override { h.WriteFile("profile.txt", std::vector<uint8_t>(kProfile, kProfile + sizeof kProfile - 1)); }

  // Runs a shell command in the test directory with the simulated profile and
  // the test's own runtime directory (so the single-instance lock is private) and run history.
  RunResult Run(const std::string& command) {
    const std::string line = "cd " + h.dir + " && XDG_RUNTIME_DIR=" + h.dir + " XDG_STATE_HOME=" + h.dir +
                             "/state OFSFLASH_SIMULATE=" + h.dir +
                             "/profile.txt " + command + " >out.txt 2>err.txt </dev/null";
    RunResult r;
    const int status = std::system(line.c_str());
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(h.dir + "/out.txt");
    r.err = ReadText(h.dir + "/err.txt");
    return r;
  }
  // mkofs with the identity of one simulated drive.
  void MakeOfs(const std::string& name, const std::string& product, const std::string& hwid, int seed) {
    const std::string command = BinaryPath("tools/mkofs") + " -o " + name + " --atapi-type 6 --banks 4 --seed " +
                                std::to_string(seed) + " --template 0x200 --vendor ORVA --product " + product +
                                " --revision 2.20 --hwid " + hwid + " --ext 080808";
    ASSERT_EQ(std::system(("cd " + h.dir + " && " + command).c_str()), 0);
  }
  // A copy of ofstool carrying the two images and a parameter text with Updater=1.
  void MergeUpdater(const std::string& first, const std::string& second) {
    const std::vector<uint8_t> area =
        ParameterArea({{"Updater=0", "Updater=1"}, {"ModelName=0", "ModelName=1"}, {"HardwareID=0", "HardwareID=1"}});
    const std::string text(area.begin(), std::find(area.begin(), area.end(), 0));
    h.WriteFile("updater.ini", std::vector<uint8_t>(text.begin(), text.end()));
    const std::string command = "cd " + h.dir + " && " + BinaryPath("tools/ofsmerge") + " " +
                                BinaryPath("tools/ofstool") + " updater --ofs1 " + first + " --ofs2 " + second +
                                " --params updater.ini";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  AppHarness h;
};

TEST_F(FlashCommand, UpdaterFlashesTheDriveThatFitsAndVerifies) {
  MakeOfs("drive1.ofs", "KZW-5520", "B2", 2);
  MakeOfs("drive0.ofs", "KZR-3350P2", "A1", 1);
  MergeUpdater("drive1.ofs", "drive0.ofs");
  const RunResult r = Run("./updater flash --yes");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Flashing finished !\n"), std::string::npos);
  EXPECT_NE(r.out.find("Verification finished"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("All Completed!\n"), std::string::npos);
  // The restart question is asked and, without --reboot, answered Cancel.
  EXPECT_NE(r.err.find("Check: After updating, the system must be restarted.\nClick Yes to reboot your system.\n"
                       "-> Cancel"),
            std::string::npos);

  const RunResult second = Run("./updater flash --yes --drive 1 --dry-run");
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_NE(second.out.find("to drive 1: ORVA    KZW-5520         2.10 "), std::string::npos) << second.out;
}

TEST_F(FlashCommand, UpdaterWithTwoImagesForOneDriveFails) {
  MakeOfs("a.ofs", "KZR-3350P2", "A1", 1);
  MakeOfs("b.ofs", "KZR-3350P2", "A1", 2);
  MergeUpdater("a.ofs", "b.ofs");
  const RunResult r = Run("./updater flash --yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Error: The number of conforming OFS are more than one.\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Updating"), std::string::npos);
}

TEST_F(FlashCommand, NoAnswersCancelTheVersionQuestionAndWriteNothing) {
  MakeOfs("old.ofs", "KZR-3350P2", "A1", 1);
  const std::string tool = BinaryPath("tools/ofstool");
  // The image says 2.20; make the drive newer.
  std::string profile = kProfile;
  profile.replace(profile.find("revision = 1.00"), 15, "revision = 3.00");
  h.WriteFile("profile.txt", std::vector<uint8_t>(profile.begin(), profile.end()));
  const RunResult r = Run(tool + " flash --no --trace-free old.ofs");
  EXPECT_EQ(r.exitCode, 2);  // unknown option
  const RunResult no = Run(tool + " flash --yes --no old.ofs");
  EXPECT_EQ(no.exitCode, 1);
  EXPECT_NE(no.err.find("Warning!: 3.00 is newer than 2.20 !! Update the drive ?\n-> Cancel"), std::string::npos)
      << no.err;
  EXPECT_EQ(no.out.find("Updating"), std::string::npos);
}

TEST_F(FlashCommand, DryRunSendsNoWritingCommand) {
  MakeOfs("drive0.ofs", "KZR-3350P2", "A1", 1);
  const RunResult r = Run("OFSFLASH_TRACE=trace.txt " + BinaryPath("tools/ofstool") + " flash --yes --dry-run drive0.ofs");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Dry run: would flash ORVA    KZR-3350P2       2.20 080808"), std::string::npos) << r.out;
  const std::string trace = ReadText(h.dir + "/trace.txt");
  ASSERT_FALSE(trace.empty());
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string drive, cdb, direction;
    fields >> drive >> cdb >> direction;
    const std::string opcode = cdb.substr(0, 2);
    // No data to the drive, no tray or lock command (START STOP UNIT, PREVENT ALLOW), no WRITE BUFFER.
    EXPECT_NE(direction, "out") << line;
    EXPECT_TRUE(opcode != "1b" && opcode != "1e" && opcode != "3b") << line;
  }
}

TEST_F(FlashCommand, TrayPromptComingBackIsAnsweredCancelWithYes) {
  std::string profile = kProfile;
  profile.replace(profile.find("capabilities = 11 13"), 20, "capabilities = 11 13\nmedium = present");
  h.WriteFile("profile.txt", std::vector<uint8_t>(profile.begin(), profile.end()));
  MakeOfs("drive0.ofs", "KZR-3350P2", "A1", 1);
  const RunResult r = Run(BinaryPath("tools/ofstool") + " flash --yes drive0.ofs");
  EXPECT_EQ(r.exitCode, 1);
  std::size_t prompts = 0;
  for (std::size_t at = r.err.find("Please remove your disc"); at != std::string::npos;
       at = r.err.find("Please remove your disc", at + 1)) {
    ++prompts;
  }
  EXPECT_EQ(prompts, 3u) << r.err;
  EXPECT_EQ(r.out.find("Flashing"), std::string::npos);
}

}  // namespace
}  // namespace ofs::test
