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

struct Verdict {
  int code = kExitDone;
  std::string text;
};

// The last word after an update that did not complete: was the drive touched, and what next.
// `failedAlikeBefore`: the history shows the same failure in the run before, so running again is no advice.
// An update the user cancelled at one of its questions has nothing to mend.
Verdict FailureVerdict(ofs::TMainForm::UpdateOutcome outcome, bool touched, int drive, bool failedAlikeBefore = false);

// The last word after the drive left the system during the update.
Verdict DisappearedVerdict(bool touched, int drive);

// The file (or the image this program carries) with the identity the window shows for it.
std::string ImageLine(const ofs::TMainForm& form, const ConsoleView& view, const std::string& file);
std::string FlashKind(const ofs::TMainForm& form);
std::string FlashLine(const ofs::TMainForm& form);

}  // namespace ofstool
