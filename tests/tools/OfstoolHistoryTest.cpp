// What the real ofstool records of its runs, and what it reads back from them.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "system/RunHistory.h"
#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolHistory : public test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    BuildImage();
  }
  RunResult Flash(const std::string& drives, const std::string& options = "") {
    std::ofstream(Path("drives.profile")) << "clock = virtual\n" << drives;
    return Run("OFSFLASH_SIMULATE=" + Path("drives.profile") + " " + Tool("ofstool") + " flash --yes " + options +
               Path("a.ofs") + " </dev/null");
  }
  std::vector<RunRecord> Records() { return RunHistory(Path("state/ofsflash/history.jsonl")).Read(); }
};

constexpr char kDrive[] = "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n";

TEST_F(OfstoolHistory, AFlashLeavesAStartAndAnEndLine) {
  const RunResult run = Flash(kDrive);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<RunRecord> records = Records();
  ASSERT_EQ(records.size(), 2u);
  const RunRecord& start = records[0];
  const RunRecord& end = records[1];
  EXPECT_EQ(start.event, "start");
  EXPECT_EQ(end.event, "end");
  EXPECT_EQ(start.run, end.run);
  for (const RunRecord* r : {&start, &end}) {
    EXPECT_EQ(r->program, "ofstool");
    EXPECT_EQ(r->drive, "sim:0");
    EXPECT_EQ(r->image, Path("a.ofs"));
    EXPECT_EQ(r->checksum.size(), 4u);
    EXPECT_EQ(r->flashType, "6 MTK5 Type");
    EXPECT_EQ(r->time.size(), 20u) << r->time;
    EXPECT_TRUE(r->touched);
  }
  EXPECT_NE(start.driveBefore.find("KZR-3350P2       1.00"), std::string::npos) << start.driveBefore;
  EXPECT_NE(end.driveAfter.find("KZR-3350P2       1.02"), std::string::npos) << end.driveAfter;
  EXPECT_EQ(end.exitCode, 0);
  EXPECT_EQ(end.result, "done");
  EXPECT_EQ(end.heldSignal, 0);

  // A run that is stopped before it writes leaves nothing.
  EXPECT_EQ(Run("OFSFLASH_SIMULATE=fast " + Tool("ofstool") + " flash --drive 1 --yes " + Path("a.ofs")).exitCode, 2);
  EXPECT_EQ(Records().size(), 2u);
  const RunResult listed = Run(Tool("ofstool") + " history");
  EXPECT_NE(listed.out.find("  ofstool  sim:0  " + Path("a.ofs") + " (checksum " + end.checksum + ")  done\n"),
            std::string::npos)
      << listed.out;
  const std::string json = Run(Tool("ofstool") + " history --json").out;
  const auto second = ParseRecord(json.substr(json.find('\n') + 1, json.size() - json.find('\n') - 2));
  ASSERT_TRUE(second) << json;
  EXPECT_EQ(second->event, "end");
}

// --all: each drive its own run.
TEST_F(OfstoolHistory, EveryDriveOfAnAllRunIsItsOwnRun) {
  const RunResult run = Flash(std::string(kDrive) + kDrive, "--all ");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<RunSummary> runs = PairRuns(Records());
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_NE(runs[0].start.drive, runs[1].start.drive);
  for (const RunSummary& r : runs) EXPECT_TRUE(r.end && r.end->exitCode == 0) << r.start.drive;
}

TEST_F(OfstoolHistory, AHistoryThatCannotBeWrittenDoesNotStopTheFlash) {
  std::ofstream(Path("state")) << "a file where the folder should be";
  const RunResult run = Flash(kDrive);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::string said = "the update goes on without it.\n";
  const std::size_t first = run.err.find(said);
  EXPECT_NE(first, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(said, first + 1), std::string::npos) << "said once: " << run.err;
}

// A damaged history costs no more than itself: a last line cut short does not swallow the
// next run's start line; one that cannot be read is said, not taken for no runs; one that is
// not a regular file is left alone, and the flash goes on. The end line names the drive as it
// reads after the flash, also when a stop signal skipped what came after it.
TEST_F(OfstoolHistory, TheRecordSurvivesWhatCanBefallItsFile) {
  const std::string history = Path("state/ofsflash/history.jsonl");
  std::filesystem::create_directories(Path("state/ofsflash"));
  struct Case {
    const char* name;
    std::function<void()> befall;
    const char* drive;  // besides the identity
    std::size_t records;
    int listExit;
    std::string listed;  // on stdout, or stderr when the list fails
  };
  const Case cases[] = {
      {"torn", [&] { std::ofstream(history) << "{\"event\":\"sta"; }, "", 2, 0, "  done\n"},
      {"fifo", [&] { ASSERT_EQ(::mkfifo(history.c_str(), 0600), 0); }, "", 0, 1,
       "ofstool: cannot read the run history " + history + ": it is not a regular file.\n"},
      {"folder", [&] { std::filesystem::create_directory(history); }, "", 0, 1,
       "ofstool: cannot read the run history " + history + ": it is a directory.\n"},
      {"held", [] {}, "raise = SIGTERM at request_sense 4\n", 2, 0, "  done (SIGTERM held until the write had ended)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(history);
    c.befall();
    const RunResult run = Flash(std::string(kDrive) + c.drive);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("cannot be written") != std::string::npos, c.records == 0) << run.err;
    std::string problem;
    const std::vector<RunRecord> records = RunHistory(history).Read(&problem);
    ASSERT_EQ(records.size(), c.records) << problem;
    if (c.records > 0) {
      EXPECT_NE(records.back().driveAfter.find("KZR-3350P2       1.02"), std::string::npos) << records.back().driveAfter;
    }
    const RunResult listed = Run(Tool("ofstool") + " history");
    EXPECT_EQ(listed.exitCode, c.listExit);
    EXPECT_TRUE((c.listExit == 0 ? listed.out : listed.err).ends_with(c.listed)) << listed.out << listed.err;
  }
}

// Killed mid-flash: the start line stays alone, and the list says what to do.
TEST_F(OfstoolHistory, ARunWithoutAnEndIsListedAsOneThatDidNotEnd) {
  ASSERT_EQ(Flash(kDrive).exitCode, 0);
  std::ofstream(Path("state/ofsflash/history.jsonl"), std::ios::app)
      << "{\"event\":\"start\",\"run\":\"killed\",\"time\":\"2099-01-01T00:00:00Z\",\"program\":\"ofsflash\","
         "\"drive\":\"/dev/sg3\",\"image\":\"/x.ofs\",\"checksum\":\"1234\"}\n";
  const RunResult listed = Run(Tool("ofstool") + " history");
  EXPECT_EQ(listed.out.substr(0, listed.out.find('\n')),
            std::string("2099-01-01T00:00:00Z  ofsflash  /dev/sg3  /x.ofs (checksum 1234)  ") + kRunDidNotEnd);
  const RunResult json = Run(Tool("ofstool") + " history --json");
  const auto newest = ParseRecord(json.out.substr(0, json.out.find('\n')));
  ASSERT_TRUE(newest) << json.out;
  EXPECT_EQ(newest->run, "killed");
  EXPECT_EQ(newest->drive, "/dev/sg3");
}

// The same failure twice in a row: running again is no longer the advice, and the
// end line says what the terminal said.
TEST_F(OfstoolHistory, TheSameFailureAgainChangesTheAdvice) {
  const std::string stalls = std::string(kDrive) + "never_finish = yes\n";
  const RunResult first = Flash(stalls);
  const RunResult second = Flash(stalls);
  ASSERT_EQ(first.exitCode, 3);
  ASSERT_EQ(second.exitCode, 3);
  const std::string again = "running the same command again did not help";
  EXPECT_EQ(first.err.find(again), std::string::npos) << first.err;
  EXPECT_NE(second.err.find(again), std::string::npos) << second.err;
  EXPECT_NE(second.err.find("'ofstool verify FILE'"), std::string::npos) << second.err;
  const std::vector<RunRecord> records = Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[3].result, "Flash progress TimeOut !");
  EXPECT_NE(second.err.find(records[3].advice + "\n"), std::string::npos) << records[3].advice;
  // Another failure on the same drive and image: the plain advice again.
  const RunResult other = Flash(std::string(kDrive) + "fail = write_buffer at 2 times always sense 03/0C/00\n");
  ASSERT_EQ(other.exitCode, 3);
  EXPECT_EQ(other.err.find(again), std::string::npos) << other.err;
  // The same failure before, but on another drive or of another image, is no earlier try of this one.
  for (const auto alter : {+[](RunRecord& r) { r.drive = "sim:9"; }, +[](RunRecord& r) { r.checksum = "0000"; }}) {
    RunRecord previous = records[1];
    alter(previous);
    std::ofstream(Path("state/ofsflash/history.jsonl")) << RecordJson(records[0]) << RecordJson(previous);
    const RunResult alone = Flash(stalls);
    EXPECT_EQ(alone.err.find(again), std::string::npos) << alone.err;
  }
}

}  // namespace
}  // namespace ofs
