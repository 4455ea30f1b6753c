#pragma once
#include <string>

// The signals a person or the session sends to stop a program: SIGINT, SIGTERM,
// SIGHUP, SIGQUIT and SIGTSTP. While a drive is written they must not stop it, so
// they are caught into a flag and the program acts on them where it is safe.

namespace ofs {

// While at least one lives, the stop signals are caught into a flag, in every
// thread (the disposition is the process's). No SA_RESTART: a blocking read of the
// terminal returns early, and the pass-through waits resume by themselves. When the
// last one goes, the former dispositions come back; what the signal caught meanwhile
// means is the owner's to decide. Nests, also across threads.
// From the first one on, an exit() called by a thread that writes no drive waits for
// the drives being written (one line on stderr says so).
class StopSignalCatch {
 public:
  StopSignalCatch();
  ~StopSignalCatch();
  StopSignalCatch(const StopSignalCatch&) = delete;
  StopSignalCatch& operator=(const StopSignalCatch&) = delete;
};

// While at least one lives (one per drive being written), a stop signal is held:
// the first one writes a line to stderr at once saying why the program goes on.
class WritePhaseMark {
 public:
  WritePhaseMark();
  ~WritePhaseMark();
  WritePhaseMark(const WritePhaseMark&) = delete;
  WritePhaseMark& operator=(const WritePhaseMark&) = delete;
};

// Esc in a ready wait while a drive is written: held as a stop signal is, since
// leaving the wait there could leave the drive half-written.
inline constexpr int kEscapeKeyStop = 0x80;
// Holds such a stop that came by other means than a signal (as the handler would).
void HoldStop(int stop);
// Some drive of this process is being written.
bool WritePhaseActive();
// "SIGINT", "SIGTERM", ... or "Esc".
std::string StopName(int stop);

// Waits until fd has something to read: false when a stop signal came first, also one
// caught just before the wait began, which a plain read would see only after Enter.
bool WaitReadableUnlessStopped(int fd);

// The first stop signal caught since the outermost catch began (kept after it ended), or 0.
int CaughtStopSignal();
// It arrived while a drive was being written: the drives of this run are finished first.
bool StopSignalHeld();

// The line written to stderr when a stop signal arrives while a drive is written.
extern const char kWritePhaseNotice[];

}  // namespace ofs
