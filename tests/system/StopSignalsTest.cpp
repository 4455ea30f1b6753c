// The stop signals caught into a flag: none ends the process while caught, one that
// comes while a drive is written is held and said on stderr at once, and the former
// dispositions come back when the last catch goes.
#include "system/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace ofs {
namespace {

volatile std::sig_atomic_t g_seen = 0;
void Record(int signal) { g_seen = signal; }

// Whatever the test writes to stderr, for the test to read.
class StderrCapture {
 public:
  StderrCapture() {
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_NONBLOCK), 0);
    read_ = ends[0];
    saved_ = dup(STDERR_FILENO);
    dup2(ends[1], STDERR_FILENO);
    close(ends[1]);
  }
  ~StderrCapture() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(read_);
  }
  std::string Text() const {
    std::string text;
    char chunk[512];
    for (ssize_t n; (n = read(read_, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<std::size_t>(n));
    return text;
  }

 private:
  int read_ = -1;
  int saved_ = -1;
};

class StopSignals : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    g_seen = 0;
    struct sigaction record {};
    record.sa_handler = Record;
    sigaction(GetParam(), &record, &previous_);
  }
  void TearDown() override { sigaction(GetParam(), &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

TEST_P(StopSignals, CaughtOutsideTheWritePhaseNotHeldAndTheFormerHandlerBackAfterTheLastCatch) {
  const StderrCapture err;
  {
    const StopSignalCatch outer;
    {
      const StopSignalCatch inner;
      raise(GetParam());
    }
    raise(GetParam());
    EXPECT_EQ(g_seen, 0) << "the inner catch gave the signal back while the outer one lived";
    EXPECT_EQ(CaughtStopSignal(), GetParam());
    EXPECT_FALSE(StopSignalHeld());
  }
  EXPECT_EQ(CaughtStopSignal(), GetParam()) << "kept for the owner after the catch";
  EXPECT_EQ(err.Text(), "");
  raise(GetParam());
  EXPECT_EQ(g_seen, GetParam());
}

TEST_P(StopSignals, HeldInTheWritePhaseSaidOnceAtOnceAndTheFirstOneKept) {
  const StderrCapture err;
  const StopSignalCatch stops;
  {
    const WritePhaseMark writing;
    raise(GetParam());
    EXPECT_EQ(err.Text(), kWritePhaseNotice);
    raise(GetParam() == SIGINT ? SIGTERM : SIGINT);
    EXPECT_EQ(err.Text(), "");
  }
  EXPECT_EQ(g_seen, 0);
  EXPECT_EQ(CaughtStopSignal(), GetParam());
  EXPECT_TRUE(StopSignalHeld());
}

TEST_P(StopSignals, ANewOutermostCatchStartsWithNothingCaught) {
  {
    const StopSignalCatch first;
    raise(GetParam());
  }
  const StopSignalCatch second;
  EXPECT_EQ(CaughtStopSignal(), 0);
  EXPECT_FALSE(StopSignalHeld());
}

// exit() from another thread (Qt's own when the display's connection breaks) while a
// drive is written waits until the writing thread has ended its flash.
TEST(StopSignalsExitDeathTest, AnExitWhileADriveIsWrittenWaitsForTheFlashToEnd) {
  EXPECT_EXIT(
      {
        static std::atomic<bool> writing{false};
        static std::atomic<bool> exiting{false};
        const StopSignalCatch stops;
        std::atexit([] { exiting = true; });  // runs before the wait, registered after it
        std::thread([] {
          const WritePhaseMark mark;
          writing = true;
          while (!exiting) std::this_thread::yield();
          // The rest of the flash, long against an exit() that does not wait for it.
          const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
          while (std::chrono::steady_clock::now() < end) std::this_thread::yield();
          std::fputs("flash ended\n", stderr);
        }).detach();
        while (!writing) std::this_thread::yield();
        std::exit(1);
      },
      ::testing::ExitedWithCode(1), "it ends once the flash has ended\\.\nflash ended\n$");
}

INSTANTIATE_TEST_SUITE_P(EachStopSignal, StopSignals, ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP));

}  // namespace
}  // namespace ofs
