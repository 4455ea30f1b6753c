#pragma once
// Writes one run's start line into the run history when its first writing
// command goes out (or when the run is refused on the system's power), and its end line when the front end knows the outcome.
#include <optional>
#include <string>

#include "app/Mainflash.h"
#include "system/RunHistory.h"

namespace ofs {

// The exit codes ofstool gives; the window records the same for the same outcome.
inline constexpr int kRunExitDone = 0;
inline constexpr int kRunExitUntouched = 1;       // failed before anything was written
inline constexpr int kRunExitMaybeIncomplete = 3;  // failed after writing began
inline constexpr int kRunExitNotVerified = 5;      // the flash ended well; a stop skipped its verification
inline constexpr char kNotVerifiedResult[] = "flashed, not verified";
inline constexpr char kNotVerifiedAdvice[] =
    "the flash ended well but was not verified; 'ofstool verify FILE' checks it";
int RunExitCode(bool completed, bool touched);
// The drive_after of a run whose drive was not read once its writing had ended.
inline constexpr char kDriveAfterUnknown[] = "unknown";
// The result recorded for a run whose drive left the system, whatever the front end saw last.
inline constexpr char kDriveDisappeared[] = "drive disappeared";
// The result the window records for a run that ended with this box: its first line.
inline std::string RunResultOf(const std::string& box) { return box.substr(0, box.find('\n')); }

class RunRecorder {
 public:
  // Hooks `form`'s write phase and its question about a failure alike before; the form, its view and its transport must outlive the recorder.
  RunRecorder(RunHistory& history, TMainForm& form, MainView& view, TAtapiImp& atapi, std::string program);
  ~RunRecorder();
  RunRecorder(const RunRecorder&) = delete;
  RunRecorder& operator=(const RunRecorder&) = delete;

  bool Started() const { return started_; }
  // Some command of this run may have changed the drive's flash.
  bool Touched() const { return started_ && atapi_.writesReached > writesBefore_; }
  // The run before this one of the same image on the same drive ended with `result` too.
  bool FailedAlikeBefore(const std::string& result) const;
  // The end line, for a run that has written its start line.
  void End(const std::string& result, const std::string& advice, int exitCode);

 private:
  void Begin(bool writing);
  std::string SelectedDriveLine();

  RunHistory& history_;
  TMainForm& form_;
  MainView& view_;
  TAtapiImp& atapi_;
  int writesBefore_ = 0;  // the handle's count when this run began to write
  RunRecord record_;
  bool started_ = false;
};

}  // namespace ofs
