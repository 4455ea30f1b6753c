// Two terminals and one set of drives: what keeps two flashers apart is the
// drive's hold, not a guard per user.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/Mainflash.h"
#include "system/LinuxPlatform.h"
#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolDriveHold : public test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    BuildImage();
  }

  std::string Flash(const std::string& simulate) const {
    return "env OFSFLASH_SIMULATE=" + simulate + " " + Tool("ofstool") + " flash --yes --drive 0 " + Path("a.ofs") +
           " </dev/null";
  }
};

TEST_F(OfstoolDriveHold, TheWindowsGuardDoesNotStopATerminal) {
  LinuxPlatform window;
  ASSERT_TRUE(window.EnsureSingleInstance(kApplicationTitle));
  const RunResult run = Run(Flash("fast"));
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

// One process is in the middle of a flash that takes minutes of real time, so the
// other meets the drive held; the first is then killed, not waited for.
TEST_F(OfstoolDriveHold, ASecondProcessOnTheSameSimulatedDriveIsRefusedByItsHold) {
  std::ofstream(Path("slow.profile")) << "clock = real\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                         "flash_file = flash.bin\nprogramming_ms = 600000\n";
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const std::string first = Flash(Path("slow.profile"));
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execl("/bin/sh", "sh", "-c", ("exec " + first).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  ::close(out[1]);
  std::FILE* lines = ::fdopen(out[0], "r");
  bool flashing = false;
  for (char line[512]; !flashing && std::fgets(line, sizeof line, lines) != nullptr;) {
    flashing = std::string(line) == "Flashing is processing...\n";
  }

  // Without the first one mid-flash the second would flash for minutes.
  const RunResult second = flashing ? Run(Flash(Path("slow.profile"))) : RunResult{};
  const RunResult check = flashing ? Run("env OFSFLASH_SIMULATE=" + Path("slow.profile") + " " + Tool("ofstool") +
                                         " verify --drive 0 " + Path("a.ofs"))
                                   : RunResult{};

  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  std::fclose(lines);
  ASSERT_TRUE(flashing);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("Drive 0 (sim:0) is being flashed by another program (ofstool, pid " +
                            std::to_string(pid) +
                            "). Nothing was written to it. Let that flash end, then try again; other drives can be "
                            "flashed meanwhile."),
            std::string::npos)
      << second.err;
  // verify holds the drive as flash does.
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.err.find("is being flashed by another program (ofstool, pid " + std::to_string(pid)),
            std::string::npos)
      << check.err;
}

}  // namespace
}  // namespace ofs
