#pragma once
// The one question ofstool flash asks before anything is written.
#include <cstdio>
#include <string>
#include <vector>

namespace ofstool {

struct WritePlan {
  int drive = 0;
  std::string node;       // /dev/sg1
  std::string driveLine;  // as the drive list shows it
  std::string imageLine;  // file, identity and checksum of the image
  std::string flashLine;  // flash type and verification
  std::vector<std::string> warnings;
};

struct ConfirmOptions {
  bool yes = false;    // answered on the command line
  bool force = false;  // yes also to a plan with warnings
};

// Shows the plan on out and asks on err, reading the answer from in when it is a
// terminal. Returns 0 when the write may go ahead, else the exit code (2).
int ConfirmWrite(const WritePlan& plan, const ConfirmOptions& options, std::FILE* in, std::FILE* out,
                 std::FILE* err);
// The same for one image going to several drives (their plans differ only in the drive).
int ConfirmWrites(const std::vector<WritePlan>& plans, const ConfirmOptions& options, std::FILE* in,
                  std::FILE* out, std::FILE* err);

}  // namespace ofstool
