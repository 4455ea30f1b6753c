// Output whose reader or terminal is gone is turned off; output that is read is left alone.
#include "ofstool/OutputGuard.h"

#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace ofstool {
namespace {

bool IsDevNull(int fd) {
  struct stat seen {}, null {};
  return fstat(fd, &seen) == 0 && stat("/dev/null", &null) == 0 && S_ISCHR(seen.st_mode) &&
         seen.st_rdev == null.st_rdev;
}

// A write end whose other end `gone` closes, or keeps.
struct Output {
  int write = -1;
  int other = -1;
};

Output PipeOutput() {
  int ends[2] = {-1, -1};
  EXPECT_EQ(pipe(ends), 0);
  return {ends[1], ends[0]};
}

Output TerminalOutput() {
  int master = -1, slave = -1;
  EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  return {slave, master};
}

TEST(OutputGuard, AStreamWhoseReaderOrTerminalIsGoneWritesIntoNothingFromThenOn) {
  IgnoreBrokenPipes();
  for (Output (*make)() : {PipeOutput, TerminalOutput}) {
    for (const bool gone : {true, false}) {
      SCOPED_TRACE(std::string(make == PipeOutput ? "pipe" : "terminal") + (gone ? ", gone" : ", read"));
      const Output output = make();
      std::FILE* stream = fdopen(output.write, "w");
      ASSERT_NE(stream, nullptr);
      if (gone) close(output.other);
      std::fputs("an event\n", stream);
      FlushOrSilence(stream);
      EXPECT_EQ(IsDevNull(output.write), gone);
      EXPECT_EQ(std::ferror(stream), 0);
      if (gone) {
        EXPECT_GE(std::fputs("the next event\n", stream), 0);
        EXPECT_EQ(std::fflush(stream), 0);
      } else {
        char line[16] = {};
        EXPECT_GT(read(output.other, line, sizeof line - 1), 0);
        EXPECT_EQ(std::string(line).substr(0, 8), "an event");
        close(output.other);
      }
      std::fclose(stream);
    }
  }
}

}  // namespace
}  // namespace ofstool
