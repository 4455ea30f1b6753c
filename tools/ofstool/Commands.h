#pragma once
// Sub-commands of ofstool; each returns the process exit code.
namespace ofstool {

int RunInfo(int argc, char** argv);
int RunParams(int argc, char** argv);
int RunEmbedded(int argc, char** argv);
int RunDrives(int argc, char** argv);
int RunFlash(int argc, char** argv);
int RunBackup(int argc, char** argv);
int RunVerify(int argc, char** argv);
int RunHistory(int argc, char** argv);

}  // namespace ofstool
