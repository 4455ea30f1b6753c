// The Esc key ends a ready wait only when a person at a terminal presses it.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DriveFixture.h"
#include "drive/ConsoleEscape.h"
#include "drive/Winfunc.h"

namespace ofs::test {
namespace {

// A pseudo terminal in raw mode, so a key reaches the reader without Enter.
class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    termios mode{};
    if (slave_ >= 0 && tcgetattr(slave_, &mode) == 0) {
      cfmakeraw(&mode);
      tcsetattr(slave_, TCSANOW, &mode);
    }
  }
  ~Terminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool Ready() const { return slave_ >= 0; }
  void Press(const char* keys) { ASSERT_GT(write(master_, keys, std::strlen(keys)), 0); }
  // The terminal side reports input only once it arrived; wait for it without sleeping.
  void AwaitInput() const {
    pollfd request{slave_, POLLIN, 0};
    poll(&request, 1, 1000);
  }
  bool Pending() const {
    pollfd request{slave_, POLLIN, 0};
    return poll(&request, 1, 0) == 1;
  }
  int reader() const { return slave_; }

 private:
  int master_ = -1;
  int slave_ = -1;
};

TEST(ConsoleEscape, OnlyEscOnATerminalCounts) {
  Terminal terminal;
  if (!terminal.Ready()) GTEST_SKIP() << "no pseudo terminals here";
  EXPECT_FALSE(EscapeKeyWaiting(terminal.reader()));  // nothing typed: no wait either
  terminal.Press("a\x1b");
  terminal.AwaitInput();
  EXPECT_FALSE(EscapeKeyWaiting(terminal.reader()));
  EXPECT_TRUE(EscapeKeyWaiting(terminal.reader()));
}

// Keys whose sequences begin with Esc are read whole and end nothing; the keys
// typed after one stay for the next look. Each case is typed in one go.
TEST(ConsoleEscape, OnlyALoneEscCountsNotTheKeysThatBeginWithIt) {
  struct Case {
    const char* keys;
    std::vector<bool> looks;  // what each EscapeKeyWaiting says, until nothing is left
  };
  const Case cases[] = {
      {"\x1b[A", {false}},             // arrow up
      {"\x1b[15~", {false}},           // F5 (xterm)
      {"\x1b[[E", {false, false}},     // F5 (Linux console): its last byte is a key of no meaning
      {"\x1bOH", {false}},             // Home (application mode)
      {"\x1b[1;3D", {false}},          // Alt+left
      {"\x1bx", {false}},              // Alt+x
      {"\x1b\x1b", {false}},           // Alt+Esc
      {"\x1b[B\x1b", {false, true}},   // arrow down, then Esc
      {"\x1b", {true}},
  };
  for (const Case& c : cases) {
    Terminal terminal;
    if (!terminal.Ready()) GTEST_SKIP() << "no pseudo terminals here";
    terminal.Press(c.keys);
    terminal.AwaitInput();
    std::vector<bool> looks;
    for (int i = 0; i < 8 && terminal.Pending(); ++i) looks.push_back(EscapeKeyWaiting(terminal.reader()));
    EXPECT_EQ(looks, c.looks) << testing::PrintToString(std::string(c.keys));
  }
}

TEST(ConsoleEscape, PipesAndClosedDescriptorsAreNoConsole) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "\x1b", 1), 1);
  EXPECT_FALSE(EscapeKeyWaiting(ends[0]));
  char left = 0;
  EXPECT_EQ(read(ends[0], &left, 1), 1);  // the byte was not taken
  close(ends[0]);
  close(ends[1]);
  EXPECT_FALSE(EscapeKeyWaiting(ends[0]));
}

// Esc ends the program in the middle of a wait: the tray is unlocked, the drive
// let go, the notice shown and the front end's exit code used.
TEST(ConsoleEscapeDeathTest, EscDuringTheReadyWaitAllowsRemovalAndExits) {
  const std::string trace =
      (std::filesystem::temp_directory_path() / ("ofs-esc-" + std::to_string(getpid()))).string();
  Terminal terminal;
  if (!terminal.Ready()) GTEST_SKIP() << "no pseudo terminals here";
  terminal.Press("\x1b");
  terminal.AwaitInput();
  EXPECT_EXIT(
      {
        dup2(terminal.reader(), STDIN_FILENO);
        // The window thread may still run: no exit handler may tear statics down.
        std::atexit([] { std::_Exit(5); });
        DriveRig rig(1, CommandTrace::Open(trace));
        rig.AnswerCheckCondition(0x02, 0x04, 0x00);
        rig.atapi->userAbortExitCode = 4;
        rig.atapi->userAbortNotice = "aborted; the drive may still be programming";
        rig.atapi->ClaimDrive(0);
        WaitDriveReady(*rig.atapi, 0, 120);
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(4), "^aborted; the drive may still be programming\n$");
  std::ifstream in(trace);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, 27));
  std::filesystem::remove(trace);
  EXPECT_EQ(lines, (std::vector<std::string>{"# held drive 0", "0 000000000000000000000000 ",
                                             "0 1e0000000000000000000000 ", "# released drive 0"}));
}

// During the wait a single key reaches the program without Enter and without
// echo; the terminal gets its mode back afterwards, and on SIGTERM too.
TEST(ConsoleKeyModeDeathTest, KeysWithoutEnterWhileWaitingAndTheModeComesBack) {
  Terminal terminal;
  if (!terminal.Ready()) GTEST_SKIP() << "no pseudo terminals here";
  termios cooked{};
  ASSERT_EQ(tcgetattr(terminal.reader(), &cooked), 0);
  cooked.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(terminal.reader(), TCSANOW, &cooked), 0);
  auto mode = [&] {
    termios now{};
    tcgetattr(terminal.reader(), &now);
    return now.c_lflag & (ICANON | ECHO);
  };
  struct sigaction before {}, after {};
  sigaction(SIGINT, nullptr, &before);
  {
    ConsoleKeyMode keys(terminal.reader());
    EXPECT_EQ(mode(), 0u);
  }
  EXPECT_EQ(mode(), static_cast<tcflag_t>(ICANON | ECHO));
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  EXPECT_EXIT(
      {
        ConsoleKeyMode keys(terminal.reader());
        if (mode() != 0) std::_Exit(1);
        raise(SIGTERM);
        std::_Exit(2);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EQ(mode(), static_cast<tcflag_t>(ICANON | ECHO));
}

// A run in the background of its terminal (`ofstool flash ... &`) would be stopped by
// SIGTTOU if it set the terminal's modes: it leaves them alone.
TEST(ConsoleKeyModeDeathTest, ABackgroundJobLeavesTheModeAlone) {
  Terminal terminal;
  if (!terminal.Ready()) GTEST_SKIP() << "no pseudo terminals here";
  EXPECT_EXIT(
      {
        setsid();
        const int tty = open(ttyname(terminal.reader()), O_RDWR);  // the session's controlling terminal
        const pid_t job = fork();
        if (job == 0) {
          setpgid(0, 0);
          signal(SIGTTOU, SIG_DFL);
          ConsoleKeyMode keys(tty);
          std::_Exit(0);
        }
        int status = 0;
        waitpid(job, &status, WUNTRACED);
        if (WIFSTOPPED(status)) kill(job, SIGKILL);
        std::_Exit(tty >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ofs::test
