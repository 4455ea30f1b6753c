// A stop signal that came while a question was being put ends it at once, though a reply
// is there to read; while a drive is written the reply is read as before.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "ofstool/Terminal.h"
#include "system/StopSignals.h"

namespace ofstool {
namespace {

TEST(ReplyLine, AStopBeforeTheWaitEndsItUnlessADriveIsBeingWritten) {
  struct Case {
    const char* name;
    bool stopped, writing;
    const char* typed;
    bool read;
  };
  const Case cases[] = {
      {"stopped while asking", true, false, "y\n", false},
      {"answered", false, false, "y\n", true},
      {"input ended", false, false, "", false},
      {"stop held while writing", true, true, "y\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int ends[2] = {-1, -1};
    ASSERT_EQ(pipe(ends), 0);
    const std::string typed = c.typed;
    ASSERT_EQ(write(ends[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    close(ends[1]);
    std::FILE* in = fdopen(ends[0], "r");
    ASSERT_NE(in, nullptr);
    const ofs::StopSignalCatch stops;
    bool read = false;
    char line[8] = {};
    {
      std::optional<ofs::WritePhaseMark> writing;
      if (c.writing) writing.emplace();
      if (c.stopped) raise(SIGINT);
      read = ReadReplyLine(in, line, sizeof line);
    }
    EXPECT_EQ(read, c.read);
    if (c.read) {
      EXPECT_STREQ(line, c.typed);
    }
    std::fclose(in);
  }
}

}  // namespace
}  // namespace ofstool
