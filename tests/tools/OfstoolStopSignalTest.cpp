// ofstool flash told to stop by a signal (the simulated drive raises it at an exact
// command) or left without a reader: a flash that has begun is finished, one that
// has not is not begun, and a verification the signal skipped is not claimed.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

constexpr char kDrive[] = "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n";
constexpr char kGoesOn[] = "The drive is being written: stopping now could leave it without working firmware.";
constexpr char kNotVerifiedResult[] =
    "{\"event\":\"result\",\"exit\":5,\"drive_touched\":true,\"text\":\"flashed, not verified\"}\n";

class OfstoolStop : public test::ToolTest {
 protected:
  void SetUp() override {
    test::ToolTest::SetUp();
    // Eight banks of flash type 1, and two of type 6 (whose end is polled for).
    const std::string common = " --atapi-type 1 --template 0x100 --product KZR-3350P2 --revision 1.02 --hwid A1";
    ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("type1.ofs") + " --bank-sizes " + kEightBanks + common).exitCode, 0);
    ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("type6.ofs") + " --banks 2 --atapi-type 6 --template 0x100" +
                  " --product KZR-3350P2 --revision 1.02 --hwid A1")
                  .exitCode,
              0);
    setenv("XDG_RUNTIME_DIR", Path("").c_str(), 1);  // a user of its own: one flasher per user
  }

  // A profile of drives with new flash files of their own (flash0.bin, ...), and `extra` for the first.
  std::string Profile(int drives, const std::string& extra) {
    for (int d = 0; d < drives; ++d) std::remove(Path("flash" + std::to_string(d) + ".bin").c_str());
    std::ofstream profile(Path("drives.profile"));
    profile << "clock = virtual\n";
    for (int d = 0; d < drives; ++d) {
      profile << kDrive << "flash_file = flash" << d << ".bin\n" << (d == 0 ? extra : "");
    }
    return "OFSFLASH_SIMULATE=" + Path("drives.profile") + " ";
  }

  // The flash of a drive that was given `image` without being disturbed.
  std::string UndisturbedFlash(const std::string& image) {
    const RunResult run = Run(Profile(1, "") + Tool("ofstool") + " flash --yes --verify " + Path(image) + " </dev/null");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return ReadText(Path("flash0.bin"));
  }

  static constexpr char kEightBanks[] = "0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000";
};

TEST_F(OfstoolStop, ASignalDuringTheWritesIsHeldUntilTheFlashHasEnded) {
  struct Case {
    const char* image;
    const char* where;  // the command the signal comes after
  };
  const Case cases[] = {{"type1.ofs", "flash_data 2"}, {"type6.ofs", "request_sense 4"}};
  for (const Case& c : cases) {
    const std::string expected = UndisturbedFlash(c.image);
    for (const char* signal : {"SIGINT", "SIGTERM", "SIGHUP"}) {
      SCOPED_TRACE(std::string(c.image) + " " + signal);
      const std::string raise = std::string("raise = ") + signal + " at " + c.where + "\n";
      const RunResult run =
          Run(Profile(1, raise) + Tool("ofstool") + " flash --yes --verify --json " + Path(c.image) + " </dev/null");
      // The verification the parameter block asks for was skipped.
      EXPECT_EQ(run.exitCode, 5) << run.err;
      EXPECT_TRUE(run.out.ends_with(kNotVerifiedResult)) << run.out;
      EXPECT_NE(run.err.find(kGoesOn), std::string::npos) << run.err;
      EXPECT_TRUE(ReadText(Path("flash0.bin")) == expected);
      EXPECT_NE(Run(Tool("ofstool") + " history").out.find(std::string("flashed, not verified (") + signal + " held"),
                std::string::npos);
    }
  }
  const RunResult unverified = Run(Profile(1, "raise = SIGTERM at flash_data 2\n") + Tool("ofstool") +
                                   " flash --yes --no-verify " + Path("type1.ofs") + " </dev/null");
  EXPECT_EQ(unverified.exitCode, 0) << unverified.err;
}

// Esc in a ready wait once writing has begun is held as a signal is: the drive (busy for
// its first ten polls) is finished, and the history tells that Esc waited.
TEST_F(OfstoolStop, AnEscWhileTheDriveIsWrittenIsHeldUntilTheFlashHasEnded) {
  const std::string expected = UndisturbedFlash("type6.ofs");
  Profile(1, "fail = test_unit_ready times 10 sense 02/04/01\n");
  setenv("OFSFLASH_SIMULATE", Path("drives.profile").c_str(), 1);
  const auto [code, screen] = RunOnTerminal({Tool("ofstool"), "flash", "--yes", "--verify", Path("type6.ofs")}, "\x1b");
  unsetenv("OFSFLASH_SIMULATE");
  EXPECT_EQ(code, 5) << screen;
  EXPECT_NE(screen.find(kGoesOn), std::string::npos) << screen;
  EXPECT_TRUE(ReadText(Path("flash0.bin")) == expected);
  EXPECT_NE(Run(Tool("ofstool") + " history").out.find("flashed, not verified (Esc held until the write had ended)"),
            std::string::npos);
}

// In start-up (also when the question then goes unanswered), or in the update with the
// tray locked: the tray is unlocked on the way out.
TEST_F(OfstoolStop, ASignalBeforeTheFirstWriteEndsTheRunWithNothingWritten) {
  const std::pair<const char*, const char*> cases[] = {
      {"inquiry 1", " --yes"}, {"inquiry 8", ""}, {"prevent_allow 1", " --yes"}};
  for (const auto& [where, confirm] : cases) {
    SCOPED_TRACE(where);
    ASSERT_EQ(Run(Profile(1, "") + Tool("ofstool") + " drives").exitCode, 0);
    const std::string before = ReadText(Path("flash0.bin"));  // what a new drive starts with
    const std::string drive = Profile(1, std::string("raise = SIGINT at ") + where + "\n");
    const RunResult run = Run(drive + "OFSFLASH_TRACE=" + Path("trace.txt") + " " + Tool("ofstool") +
                              " flash" + confirm + " " + Path("type1.ofs") + " </dev/null");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("ofstool: stopped by SIGINT; nothing was written to drive 0"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kGoesOn), std::string::npos) << run.err;
    const std::string trace = ReadText(Path("trace.txt"));
    EXPECT_EQ(trace.find(" out "), std::string::npos) << trace;
    EXPECT_EQ(trace.find("1e0000000100000000000000") == std::string::npos,
              trace.find("1e0000000000000000000000") == std::string::npos)
        << "locked and not unlocked: " << trace;
    EXPECT_TRUE(ReadText(Path("flash0.bin")) == before);
  }
}

// Every drive of the run is finished, the one the signal came from and the others.
TEST_F(OfstoolStop, ASignalDuringOneDrivesWritesLetsEveryDriveFinish) {
  const std::string expected = UndisturbedFlash("type1.ofs");
  const RunResult run = Run(Profile(3, "raise = SIGTERM at flash_data 2\n") + Tool("ofstool") +
                            " flash --all --yes --verify --json " + Path("type1.ofs") + " </dev/null");
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_NE(run.out.find("{\"drive\":0,"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"exit\":5,\"failure\":\"flashed, not verified\""), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(kGoesOn), std::string::npos) << run.err;
  for (int d = 0; d < 3; ++d) EXPECT_TRUE(ReadText(Path("flash" + std::to_string(d) + ".bin")) == expected) << d;
}

// A reader that takes one event and goes: the flash goes on to its end.
TEST_F(OfstoolStop, JsonIntoAPipeWhoseReaderHasGoneStillFlashes) {
  const std::string expected = UndisturbedFlash("type6.ofs");
  Profile(1, "");
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  fcntl(ends[1], F_SETPIPE_SZ, 4096);  // far less than the run writes: it must write after the reader left
  const std::string tool = Tool("ofstool"), image = Path("type6.ofs");
  setenv("OFSFLASH_SIMULATE", Path("drives.profile").c_str(), 1);
  const pid_t child = fork();
  if (child == 0) {
    dup2(ends[1], STDOUT_FILENO);
    const int nothing = open("/dev/null", O_RDWR);
    dup2(nothing, STDIN_FILENO);
    dup2(nothing, STDERR_FILENO);
    execl(tool.c_str(), tool.c_str(), "flash", "--yes", "--verify", "--json", image.c_str(), nullptr);
    _exit(127);
  }
  unsetenv("OFSFLASH_SIMULATE");
  ASSERT_GT(child, 0);
  close(ends[1]);
  std::string first;
  for (char ch = 0; ch != '\n' && read(ends[0], &ch, 1) == 1;) first += ch;
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);

  EXPECT_EQ(first, "{\"event\":\"line\",\"text\":\"Important Notice:\"}\n");
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(ReadText(Path("flash0.bin")) == expected);
}

}  // namespace
}  // namespace ofs
