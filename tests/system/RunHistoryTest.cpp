// The run history: where it lives, how its lines pair into runs, and that a
// history that cannot be written is said once and fails nothing else.
#include "system/RunHistory.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "params/TempDir.h"
#include "system/ScopedEnv.h"

namespace {
bool g_fsyncFails = false;
}  // namespace

// The system's fsync, which a case makes fail as a failing disk does.
extern "C" int fsync(int fd) {
  if (!g_fsyncFails) return static_cast<int>(::syscall(SYS_fsync, fd));
  errno = EIO;
  return -1;
}

namespace ofs {
namespace {

TEST(RunHistory, LivesUnderTheStateHomeOrTheHomesLocalState) {
  struct Case {
    const char* state;  // null: unset
    const char* expected;
  };
  const Case cases[] = {
      {"/var/state", "/var/state/ofsflash/history.jsonl"},
      {"relative/state", "/home/u/.local/state/ofsflash/history.jsonl"},  // not absolute: ignored
      {nullptr, "/home/u/.local/state/ofsflash/history.jsonl"},
  };
  const test::ScopedEnv home("HOME", "/home/u");
  for (const Case& c : cases) {
    const test::ScopedEnv state("XDG_STATE_HOME", c.state ? c.state : "");
    if (!c.state) ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(DefaultHistoryPath(), c.expected) << (c.state ? c.state : "(unset)");
  }
}

RunRecord Record(const std::string& event, const std::string& run, const std::string& time) {
  RunRecord r;
  r.event = event;
  r.run = run;
  r.time = time;
  r.program = "ofstool";
  r.drive = "/dev/sg1";
  r.image = "/tmp/a.ofs";
  r.checksum = "486C";
  r.touched = true;
  return r;
}

// Written by hand as a killed run leaves it: a start line, no end line, and a
// line cut short by the power loss.
TEST(RunHistory, AStartWithoutAnEndIsARunThatDidNotEnd) {
  test::TempDir dir;
  RunRecord done = Record("end", "1", "2026-01-01T10:00:05Z");
  done.result = "done";
  done.heldSignal = SIGTERM;
  RunRecord failed = Record("end", "3", "2026-01-03T10:00:05Z");
  failed.exitCode = 3;
  failed.result = "Write Buffer Fail !";
  std::ofstream(dir.File("history.jsonl"))
      << RecordJson(Record("start", "1", "2026-01-01T10:00:00Z")) << RecordJson(done)
      << RecordJson(Record("start", "2", "2026-01-02T10:00:00Z"))
      << RecordJson(Record("start", "3", "2026-01-03T10:00:00Z")) << RecordJson(failed) << "{\"event\":\"sta";
  const RunHistory history(dir.File("history.jsonl"));
  const std::vector<RunSummary> runs = PairRuns(history.Read());
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(SummaryLine(runs[0]),
            "2026-01-03T10:00:00Z  ofstool  /dev/sg1  /tmp/a.ofs (checksum 486C)  exit 3: Write Buffer Fail !");
  EXPECT_FALSE(runs[1].end);
  EXPECT_EQ(SummaryLine(runs[1]),
            "2026-01-02T10:00:00Z  ofstool  /dev/sg1  /tmp/a.ofs (checksum 486C)  did not end (killed, or power "
            "lost?): 'ofstool verify FILE' tells whether the update landed; if it did not, run the same update "
            "again, so that the whole image is written");
  EXPECT_EQ(SummaryLine(runs[2]), "2026-01-01T10:00:00Z  ofstool  /dev/sg1  /tmp/a.ofs (checksum 486C)  done "
                                  "(SIGTERM held until the write had ended)");
  ASSERT_TRUE(runs[2].end);
  EXPECT_EQ(runs[2].end->heldSignal, SIGTERM);
  EXPECT_TRUE(runs[2].end->touched);
}

// The first record makes the folders, private to the user; each record is one whole line.
TEST(RunHistory, AppendsWholeLinesToAPrivateFile) {
  test::TempDir dir;
  const std::string path = dir.File("state/ofsflash/history.jsonl");
  RunHistory history(path);
  ASSERT_TRUE(history.Append(Record("start", "7", "2026-01-01T10:00:00Z")));
  RunRecord end = Record("end", "7", "2026-01-01T10:01:00Z");
  end.driveAfter = "ORVA    KZR-3350P2       1.02 \xff";  // a drive's bytes need not be text
  ASSERT_TRUE(history.Append(end));
  struct stat folder {}, file {};
  ASSERT_EQ(::stat(dir.File("state/ofsflash").c_str(), &folder), 0);
  ASSERT_EQ(::stat(path.c_str(), &file), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  const std::vector<RunRecord> records = history.Read();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].event, "end");
  EXPECT_EQ(records[1].driveAfter.substr(0, 30), "ORVA    KZR-3350P2       1.02 ");
}

TEST(RunHistory, AHistoryThatCannotBeWrittenIsSaidOnce) {
  test::TempDir dir;
  std::ofstream(dir.File("state")) << "a file where the folder should be";
  std::FILE* complaints = std::tmpfile();
  RunHistory history(dir.File("state/ofsflash/history.jsonl"), complaints);
  EXPECT_FALSE(history.Append(Record("start", "1", "t")));
  EXPECT_FALSE(history.Append(Record("end", "1", "t")));
  std::rewind(complaints);
  char text[512] = {};
  const std::size_t length = std::fread(text, 1, sizeof text - 1, complaints);
  std::fclose(complaints);
  const std::string said(text, length);
  EXPECT_NE(said.find("cannot be written (Not a directory); the update goes on without it.\n"), std::string::npos)
      << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
  EXPECT_TRUE(history.Read().empty());
}

// A record counts once it is on the disk, never through a link, and a damaged line
// hides no run after it.
TEST(RunHistory, ARecordIsSyncedNeverWrittenThroughALinkAndNoLineHidesTheNext) {
  struct Case {
    const char* what;
    std::function<void(const test::TempDir&)> prepare;
    bool appended;
    std::vector<std::string> runs;  // the runs read back afterwards
  };
  const Case cases[] = {
      {"a damaged line in the middle",
       [](const test::TempDir& d) {
         std::ofstream(d.File("history.jsonl")) << RecordJson(Record("start", "1", "t")) << "{\"event\":\n"
                                                << RecordJson(Record("start", "2", "t"));
       },
       true, {"1", "2", "3"}},
      {"a link at the history's name",
       [](const test::TempDir& d) {
         std::ofstream(d.File("elsewhere")).flush();
         std::filesystem::create_symlink("elsewhere", d.File("history.jsonl"));
       },
       false, {}},
      {"a disk that cannot sync", [](const test::TempDir&) { g_fsyncFails = true; }, false, {"3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    c.prepare(dir);
    std::FILE* complaints = std::tmpfile();
    RunHistory history(dir.File("history.jsonl"), complaints);
    EXPECT_EQ(history.Append(Record("start", "3", "t")), c.appended);
    g_fsyncFails = false;
    std::fclose(complaints);
    std::vector<std::string> runs;
    for (const RunRecord& r : history.Read()) runs.push_back(r.run);
    EXPECT_EQ(runs, c.runs);
  }
}

}  // namespace
}  // namespace ofs
