#include "system/StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <mutex>

namespace ofs {

const char kExitWaitNotice[] =
    "The program was told to end while a drive is being written; it ends once the flash has ended.\n";

const char kWritePhaseNotice[] =
    "The drive is being written: stopping now could leave it without working firmware. The update goes on and "
    "finishes by itself; the program ends after it.\n";

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
constexpr std::size_t kStopSignalCount = std::size(kStopSignals);

// The handler reads and writes only these, so they must not take locks.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
// The first signal caught, with kHeldBit when it came while a drive was written: one
// word, so no reader sees the signal without knowing whether it was held.
constexpr int kHeldBit = 0x100;
std::atomic<int> g_caught{0};
std::atomic<int> g_writePhases{0};
std::atomic<bool> g_noticeShown{false};
thread_local int t_writePhases = 0;  // this thread's: it cannot wait for its own

std::mutex g_installLock;  // the catches of several threads come and go one at a time
int g_catches = 0;
struct sigaction g_previous[kStopSignalCount];

void Catch(int signal) {
  const int savedErrno = errno;
  const bool writing = g_writePhases.load() > 0;
  int none = 0;
  g_caught.compare_exchange_strong(none, signal | (writing ? kHeldBit : 0));
  if (writing && !g_noticeShown.exchange(true)) {
    // Nothing may stop the program here, not even a full or closed stderr.
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kWritePhaseNotice, sizeof kWritePhaseNotice - 1);
  }
  errno = savedErrno;
}

// exit() called by another thread while a drive is written (Qt's own when the display's
// connection breaks, as with a dropped ssh -X session) would end the flash half-way:
// the writing threads are let finish first.
void FinishWritesBeforeExit() {
  if (g_writePhases.load() == 0 || t_writePhases > 0) return;
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kExitWaitNotice, sizeof kExitWaitNotice - 1);
  const timespec pause{0, 50'000'000};
  while (g_writePhases.load() > 0) nanosleep(&pause, nullptr);
}

}  // namespace

StopSignalCatch::StopSignalCatch() {
  static std::once_flag exitWait;
  std::call_once(exitWait, [] { std::atexit(FinishWritesBeforeExit); });
  const std::lock_guard<std::mutex> lock(g_installLock);
  if (g_catches++ > 0) return;
  g_caught = 0;
  g_noticeShown = false;
  struct sigaction action {};
  action.sa_handler = Catch;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = 0;  // without SA_RESTART
  for (std::size_t i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
}

StopSignalCatch::~StopSignalCatch() {
  const std::lock_guard<std::mutex> lock(g_installLock);
  if (--g_catches > 0) return;
  for (std::size_t i = 0; i < kStopSignalCount; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
}

WritePhaseMark::WritePhaseMark() {
  ++t_writePhases;
  ++g_writePhases;
}

WritePhaseMark::~WritePhaseMark() {
  --g_writePhases;
  --t_writePhases;
}

void HoldStop(int stop) { Catch(stop); }

bool WritePhaseActive() { return g_writePhases.load() > 0; }

std::string StopName(int stop) {
  if (stop == kEscapeKeyStop) return "Esc";
  const char* name = sigabbrev_np(stop);
  return name ? std::string("SIG") + name : "signal " + std::to_string(stop);
}

bool WaitReadableUnlessStopped(int fd) {
  sigset_t stops, before;
  sigemptyset(&stops);
  for (int signal : kStopSignals) sigaddset(&stops, signal);
  // Blocked from the check until ppoll unblocks them: none can slip in between unseen.
  pthread_sigmask(SIG_BLOCK, &stops, &before);
  pollfd wait{fd, POLLIN, 0};
  int ready = 0;
  while (CaughtStopSignal() == 0 && (ready = ppoll(&wait, 1, nullptr, &before)) < 0 && errno == EINTR) {
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return CaughtStopSignal() == 0 && ready > 0;
}

int CaughtStopSignal() { return g_caught.load() & ~kHeldBit; }

bool StopSignalHeld() { return (g_caught.load() & kHeldBit) != 0; }

}  // namespace ofs
