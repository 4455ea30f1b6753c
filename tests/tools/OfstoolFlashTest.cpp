// ofstool flash as a person at a terminal meets it.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolFlash : public test::ToolTest {
 protected:
  // Runs `argv` on a new pseudo terminal that already holds `typed`; returns its
  // exit code and everything it wrote to the terminal.
  static std::pair<int, std::string> RunOnTerminal(const std::vector<std::string>& argv, const std::string& typed) {
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    if (child < 0) return {-1, {}};
    // Typed before the program reads: a terminal in line mode would keep it until Enter.
    if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) return {-1, {}};
    std::string screen;
    char chunk[1024];
    for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) screen.append(chunk, static_cast<std::size_t>(n));
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, screen};
  }
};

// One Esc, without Enter, ends the drive's wait; the exit code and the last line say
// the drive may still be programming.
TEST_F(OfstoolFlash, EscDuringTheReadyWaitIsSeenAtOnceAndEndsWithItsOwnExitCode) {
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") +
                              " --banks 2 --atapi-type 6 --template 0x100 --product KZR-3350P2 --revision 1.02");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nnever_ready = yes\n";
  setenv("OFSFLASH_SIMULATE", Path("drive.profile").c_str(), 1);
  const auto [code, screen] = RunOnTerminal({Tool("ofstool"), "flash", "--yes", Path("a.ofs")}, "\x1b");
  unsetenv("OFSFLASH_SIMULATE");
  EXPECT_EQ(code, 4) << screen;
  EXPECT_NE(screen.find("aborted by the user (Esc) while waiting for the drive; the drive may still be programming"),
            std::string::npos)
      << screen;
}

// The exit code alone tells whether the drive was touched.
TEST_F(OfstoolFlash, TheExitCodeSaysWhetherTheDriveWasTouched) {
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") +
                              " --banks 2 --atapi-type 6 --template 0x100 --product KZR-3350P2 --revision 1.02");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  struct Case {
    const char* drive;
    int exitCode;
    const char* lastWord;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"fail = write_buffer times always sense 05/24/00\n", 1, "nothing was written to drive 0"},
      {"never_finish = yes\n", 3, "drive 0 may hold incomplete firmware"},
  };
  for (const Case& c : cases) {
    std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\n" << c.drive;
    const RunResult run = Run("OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool") +
                              " flash --yes " + Path("a.ofs") + " </dev/null");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.drive << run.err;
    EXPECT_NE(run.err.find(c.lastWord), std::string::npos) << c.drive << run.err;
  }
}

}  // namespace
}  // namespace ofs
