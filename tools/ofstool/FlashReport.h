#pragma once
// What ofstool flash says about a drive and an image, for one drive or many at once.
#include <string>

#include "app/Mainflash.h"
#include "app/RunRecorder.h"
#include "ofstool/ConsoleView.h"

namespace ofstool {

// What the exit code says about the drive.
inline constexpr int kExitDone = ofs::kRunExitDone;
inline constexpr int kExitUntouched = ofs::kRunExitUntouched;  // failed before anything was written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitMaybeIncomplete = ofs::kRunExitMaybeIncomplete;  // failed after writing began
inline constexpr int kExitNotVerified = ofs::kRunExitNotVerified;  // flashed well, the verification skipped

struct Verdict {
  int code = kExitDone;
  std::string text;
};

// The last word after `form`'s update of `drive` did not complete: was the drive touched, and
// what next. `failedAlikeBefore`: the history shows the same failure in the run before, so running
// again is no advice. An update the user cancelled at one of its questions has nothing to mend;
// one stopped by a signal, or refused on what the same command brings again, names that instead.
Verdict FailureVerdict(const ofs::TMainForm& form, const ConsoleView& view, int drive, bool touched,
                       bool failedAlikeBefore);
// A flash that ended well whose verification a stop signal skipped.
Verdict NotVerifiedVerdict(int drive);

// The last word after the drive left the system during the update.
Verdict DisappearedVerdict(bool touched, int drive);

// The file (or the image this program carries) with the identity the window shows for it.
std::string ImageLine(const ofs::TMainForm& form, const ConsoleView& view, const std::string& file);
std::string FlashKind(const ofs::TMainForm& form);
std::string FlashLine(const ofs::TMainForm& form);

}  // namespace ofstool
