// What mkofs and ofsmerge write to: a new file or a regular one, never what else a path names.
// Every run has a time limit, so a tool that waits on the fifo fails the test instead of hanging it.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class ToolOutput : public test::ToolTest {};

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

TEST_F(ToolOutput, IsANewOrARegularFileAndNothingElseIsOpened) {
  const std::string mkofs = Tool("mkofs") + " --banks 1 -o ";
  ASSERT_EQ(Run(mkofs + Path("in.ofs")).exitCode, 0);
  ASSERT_EQ(::chmod(Path("in.ofs").c_str(), 0751), 0);
  const std::string built = ReadText(Path("in.ofs"));
  const std::string ofsmerge = Tool("ofsmerge") + " " + Path("in.ofs") + " ";
  struct Case {
    const char* what;
    std::function<bool(const std::string& out)> make;  // false: this test may not make it
    mode_t kind;     // what stays at the path; S_IFREG: written
    mode_t mode[2];  // its permissions afterwards, by mkofs and by ofsmerge
    const char* said;
  };
  const mode_t umask = ::umask(0);
  ::umask(umask);
  const Case cases[] = {
      {"a regular file", [](const std::string& out) { return ::close(::creat(out.c_str(), 0640)) == 0; }, S_IFREG,
       {0640, 0640}, ""},
      {"a new file", [](const std::string&) { return true; }, S_IFREG, {0666 & ~umask, 0751}, ""},
      {"a symbolic link",
       [this](const std::string& out) {
         std::ofstream(Path("target")) << "old";
         return ::symlink(Path("target").c_str(), out.c_str()) == 0;
       },
       S_IFLNK, {0777, 0777}, " is a symbolic link; OUT must be a new file or a regular one. Nothing was written.\n"},
      {"a fifo", [](const std::string& out) { return ::mkfifo(out.c_str(), 0666) == 0; }, S_IFIFO, {0666 & ~umask, 0666 & ~umask},
       " is a fifo; OUT must be a new file or a regular one. Nothing was written.\n"},
      // A null device of the test's own, in its private folder: only root may make one.
      {"a device node",
       [](const std::string& out) { return ::mknod(out.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }, S_IFCHR,
       {0666 & ~umask, 0666 & ~umask},
       " is a character device; OUT must be a new file or a regular one. Nothing was written.\n"},
  };
  for (const Case& c : cases) {
    for (const bool merge : {false, true}) {
      const std::string tool = merge ? "ofsmerge" : "mkofs";
      SCOPED_TRACE(tool + " to " + c.what);
      const std::string out = Path("out");
      std::filesystem::remove(out);
      if (!c.make(out)) {
        std::cout << "[  SKIPPED ] " << tool << " to " << c.what << ": this test may not make one here\n";
        continue;
      }
      const RunResult run = Run("timeout 10 " + (merge ? ofsmerge : mkofs) + out);
      EXPECT_EQ(run.exitCode, c.kind == S_IFREG ? 0 : 2);
      EXPECT_EQ(run.err, *c.said ? tool + ": " + out + c.said : "");
      EXPECT_EQ(ModeOf(out) & S_IFMT, c.kind);
      EXPECT_EQ(ModeOf(out) & 07777, c.mode[merge]);
      if (c.kind == S_IFREG) {
        EXPECT_EQ(ReadText(out), built);
      }
      if (c.kind == S_IFLNK) {
        EXPECT_EQ(ReadText(Path("target")), "old");
      }
      for (const auto& entry : std::filesystem::directory_iterator(Path(""))) {
        EXPECT_NE(entry.path().filename().string().rfind(".ofsflash-", 0), 0u) << "left behind: " << entry.path();
      }
    }
  }
}

}  // namespace
}  // namespace ofs
