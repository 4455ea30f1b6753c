#pragma once
// Several drives updated at once with one image: one worker thread per drive,
// each with its own controller, console view, transport handle and drive lock.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "drive/AtapiImp.h"
#include "ofstool/ConsoleView.h"
#include "system/Platform.h"
#include "system/RunHistory.h"

namespace ofstool {

// How one drive's update ended.
struct DriveOutcome {
  int drive = 0;
  std::string before;  // the drive's line before the update
  std::string after;   // and after it; empty when it could not be read
  int code = 0;        // the exit code a run of this drive alone would end with
  std::string text;    // "done", or what the failure means for the drive and what next
  std::string failure; // the failure as the update reported it
  long long milliseconds = 0;
};

struct FlashAllSetup {
  ofs::TAtapiImp& atapi;  // the caller's handle; each worker gets a share of it
  ofs::Platform& platform;  // the caller's: its family decides each worker's steps
  std::string file;         // empty: the image this program carries
  std::optional<bool> verify;
  ConsoleOptions console;   // answers and format; drive, lock and bar are each worker's
  std::FILE* out;
  std::FILE* err;
  std::FILE* in;            // for the questions a person must answer at the drive (tray)
  ofs::RunHistory* history = nullptr;  // where each drive's run is recorded, if anywhere
  bool ignorePower = false;            // flash on a low battery all the same
};

// Updates `drives` (transport indices) at once and returns how each ended, in the
// same order. The newer-firmware answer and the restart are the caller's: the
// workers answer the restart question with Cancel.
std::vector<DriveOutcome> FlashDrives(const std::vector<int>& drives, const FlashAllSetup& setup);

// 0 when every drive is done, else the worst of their exit codes.
int CombinedExitCode(const std::vector<DriveOutcome>& outcomes);

}  // namespace ofstool
