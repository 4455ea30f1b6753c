#pragma once
// Sub-commands of ofstool; each reads the words after its name and returns the process exit code.
#include "ofstool/CommandWords.h"

namespace ofstool {

int RunInfo(const Words& words);
int RunParams(const Words& words);
int RunEmbedded(const Words& words);
int RunDrives(const Words& words);
int RunFlash(const Words& words);
int RunBackup(const Words& words);
int RunVerify(const Words& words);
int RunHistory(const Words& words);

}  // namespace ofstool
