#pragma once
// The record of every run that wrote to a drive: a start line when the first
// writing command goes out and an end line when the run ends, appended to a
// JSON-lines file (and the system journal where one runs), so the outcome
// outlives the terminal or window that saw it.
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace ofs {

struct RunRecord {
  std::string event;  // "start" or "end"
  std::string time;   // UTC, ISO 8601
  std::string run;    // the same in a run's start and end line
  std::string program;
  std::string drive;  // the node commands went through
  std::string driveBefore;
  std::string driveAfter;
  std::string image;  // the file, or the image the program carries
  std::string checksum;
  std::string flashType;
  std::string result;  // what the update said at its end
  std::string advice;  // what the front end told the person to do next
  int exitCode = 0;
  bool touched = false;
  int heldSignal = 0;
};

// $XDG_STATE_HOME/ofsflash/history.jsonl, or ~/.local/state/... without it.
std::string DefaultHistoryPath();
// Now, as "2026-01-31T12:00:00Z".
std::string UtcNow();

std::string RecordJson(const RunRecord& record);
std::optional<RunRecord> ParseRecord(const std::string& line);

class RunHistory {
 public:
  // Complaints go to `complaints` once per history, however many records fail.
  explicit RunHistory(std::string path, std::FILE* complaints = stderr);

  // One line, one write() with O_APPEND, then fsync; the journal gets it too. The line
  // starts a line of its own after one cut short. Only a regular file is written, never
  // through a symbolic link, and opening it never waits.
  // Never fails the caller's work: false only tells that the file missed it.
  bool Append(const RunRecord& record);
  // Every record that reads back whole, oldest first; a missing file is none. A file
  // that is there but cannot be read gives none too, and `problem` says why.
  std::vector<RunRecord> Read(std::string* problem = nullptr) const;
  const std::string& Path() const { return path_; }

 private:
  void Complain(const std::string& why);

  std::string path_;
  std::FILE* complaints_;
  std::atomic<bool> complained_{false};
};

// A run as its two lines tell it; `end` is missing when the run was killed or the power went.
struct RunSummary {
  RunRecord start;
  std::optional<RunRecord> end;
};

// Runs newest first, start and end paired by their run.
std::vector<RunSummary> PairRuns(const std::vector<RunRecord>& records);
std::string SummaryLine(const RunSummary& run);

inline constexpr char kRunDidNotEnd[] =
    "did not end (killed, or power lost?): 'ofstool verify FILE' tells whether the update landed; if it did not, "
    "run the same update again, so that the whole image is written";

}  // namespace ofs
