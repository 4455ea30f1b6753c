#pragma once
// The one question ofstool flash asks before anything is written.
#include <cstdio>
#include <string>
#include <vector>

#include "ofstool/Terminal.h"

namespace ofstool {

struct WritePlan {
  int drive = 0;
  std::string node;       // /dev/sg1
  std::string driveLine;  // as the drive list shows it
  std::string imageLine;  // file, identity and checksum of the image
  std::string flashLine;  // flash type and verification
  std::vector<std::string> warnings;
  std::string transportNote;  // what the way the drive is attached means for the flash, if anything
};

struct ConfirmOptions {
  bool yes = false;    // answered on the command line
  bool force = false;  // yes also to a plan with warnings
};

struct Confirmation {
  int code = 0;      // 0: the write may go ahead, else the exit code (2)
  std::string text;  // what was refused and why, for the caller to say
};

// Shows the plan on out and, when in is a terminal, asks on `terminal`, showing the
// plan there too first unless out already shows on it.
Confirmation ConfirmWrite(const WritePlan& plan, const ConfirmOptions& options, std::FILE* in, std::FILE* out,
                          const Terminal& terminal);
// The same for one image going to several drives (their plans differ only in the drive).
Confirmation ConfirmWrites(const std::vector<WritePlan>& plans, const ConfirmOptions& options, std::FILE* in,
                           std::FILE* out, const Terminal& terminal);

}  // namespace ofstool
