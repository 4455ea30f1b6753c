#pragma once
// Sub-commands of ofstool; each returns the process exit code.
#include <cstring>

namespace ofstool {

// -h or --help among a command's words (argv[0] is the command).
inline bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

int RunInfo(int argc, char** argv);
int RunParams(int argc, char** argv);
int RunEmbedded(int argc, char** argv);
int RunDrives(int argc, char** argv);
int RunFlash(int argc, char** argv);
int RunBackup(int argc, char** argv);
int RunVerify(int argc, char** argv);
int RunHistory(int argc, char** argv);

}  // namespace ofstool
