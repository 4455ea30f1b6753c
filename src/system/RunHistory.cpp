#include "system/RunHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>
#include <nlohmann/json.hpp>

#include "system/StopSignals.h"

namespace ofs {
namespace {

using nlohmann::json;

// The folders of the history, made private to the user on the way.
bool MakeFolders(const std::string& file) {
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1)) {
    const std::string folder = file.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The history open as `flags` asks, or why not; no descriptor and no problem when it is missing.
struct HistoryFile {
  int fd = -1;
  std::string problem;
  ~HistoryFile() {
    if (fd >= 0) ::close(fd);
  }
};

// Never with a wait (a fifo there has no writer to wait for), only a regular file, never
// through a symbolic link.
void OpenHistory(const std::string& path, int flags, HistoryFile& file) {
  file.fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (file.fd < 0) {
    const bool missing = errno == ENOENT && (flags & O_CREAT) == 0;
    if (!missing) file.problem = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return;
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    file.problem = S_ISDIR(info.st_mode) ? "it is a directory" : "it is not a regular file";
    ::close(file.fd);
    file.fd = -1;
  }
}

// A line cut short by a full disk or a power loss is ended before the next one, so
// that it costs only itself.
bool EndsMidLine(int fd) {
  const off_t end = ::lseek(fd, 0, SEEK_END);
  char last = '\n';
  return end > 0 && ::pread(fd, &last, 1, end - 1) == 1 && last != '\n';
}

std::string Summary(const RunRecord& record) {
  return "ofsflash " + record.event + ": " + record.drive + " " + record.image + " (checksum " + record.checksum +
         ")" + (record.event == "end" ? ": " + record.result + ", exit " + std::to_string(record.exitCode) : "");
}

// Where a journal runs it takes the record too; where none does, that is no error.
void SendToJournal(const RunRecord& r) {
  sd_journal_send("MESSAGE=%s", Summary(r).c_str(), "SYSLOG_IDENTIFIER=ofsflash", "OFSFLASH_EVENT=%s",
                  r.event.c_str(), "OFSFLASH_RUN=%s", r.run.c_str(), "OFSFLASH_PROGRAM=%s", r.program.c_str(),
                  "OFSFLASH_DRIVE=%s", r.drive.c_str(), "OFSFLASH_DRIVE_BEFORE=%s", r.driveBefore.c_str(),
                  "OFSFLASH_DRIVE_AFTER=%s", r.driveAfter.c_str(), "OFSFLASH_IMAGE=%s", r.image.c_str(),
                  "OFSFLASH_CHECKSUM=%s", r.checksum.c_str(), "OFSFLASH_FLASH_TYPE=%s", r.flashType.c_str(),
                  "OFSFLASH_RESULT=%s", r.result.c_str(), "OFSFLASH_ADVICE=%s", r.advice.c_str(),
                  "OFSFLASH_EXIT=%d", r.exitCode, "OFSFLASH_TOUCHED=%d", r.touched ? 1 : 0,
                  "OFSFLASH_HELD_SIGNAL=%d", r.heldSignal, nullptr);
}

}  // namespace

std::string DefaultHistoryPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  // A relative XDG_STATE_HOME is to be ignored, as the base directory rules say.
  const std::string base = state && state[0] == '/' ? std::string(state)
                                                    : std::string(home ? home : "") + "/.local/state";
  return base + "/ofsflash/history.jsonl";
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string RecordJson(const RunRecord& r) {
  json line = {{"event", r.event},     {"time", r.time},
               {"run", r.run},         {"program", r.program},
               {"drive", r.drive},     {"drive_before", r.driveBefore},
               {"image", r.image},     {"checksum", r.checksum},
               {"flash_type", r.flashType}, {"touched", r.touched},
               {"held_signal", r.heldSignal}};
  if (r.event == "end") {
    line["drive_after"] = r.driveAfter;
    line["result"] = r.result;
    line["advice"] = r.advice;
    line["exit"] = r.exitCode;
  }
  // Drive identities are bytes from the drive: never let one stop the record.
  return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<RunRecord> ParseRecord(const std::string& text) {
  const json line = json::parse(text, nullptr, false);
  if (!line.is_object() || !line.contains("event") || !line.contains("run")) return std::nullopt;
  RunRecord r;
  const auto get = [&line](const char* key, auto fallback) { return line.value(key, fallback); };
  r.event = get("event", std::string());
  r.time = get("time", std::string());
  r.run = get("run", std::string());
  r.program = get("program", std::string());
  r.drive = get("drive", std::string());
  r.driveBefore = get("drive_before", std::string());
  r.driveAfter = get("drive_after", std::string());
  r.image = get("image", std::string());
  r.checksum = get("checksum", std::string());
  r.flashType = get("flash_type", std::string());
  r.result = get("result", std::string());
  r.advice = get("advice", std::string());
  r.exitCode = get("exit", 0);
  r.touched = get("touched", false);
  r.heldSignal = get("held_signal", 0);
  return r;
}

RunHistory::RunHistory(std::string path, std::FILE* complaints) : path_(std::move(path)), complaints_(complaints) {}

void RunHistory::Complain(const std::string& why) {
  if (complained_.exchange(true)) return;
  std::fprintf(complaints_, "ofsflash: the run history %s cannot be written (%s); the update goes on without it.\n",
               path_.c_str(), why.c_str());
}

bool RunHistory::Append(const RunRecord& record) {
  SendToJournal(record);
  std::string line = RecordJson(record);
  if (!MakeFolders(path_)) {
    Complain(std::strerror(errno));
    return false;
  }
  HistoryFile file;
  OpenHistory(path_, O_RDWR | O_APPEND | O_CREAT, file);
  if (file.fd < 0) {
    Complain(file.problem);
    return false;
  }
  if (EndsMidLine(file.fd)) line.insert(line.begin(), '\n');
  // One write: lines of drives flashed at once never interleave.
  const ssize_t written = ::write(file.fd, line.data(), line.size());
  const int error = written < 0 ? errno : (static_cast<std::size_t>(written) == line.size() ? 0 : ENOSPC);
  const bool synced = error == 0 && ::fsync(file.fd) == 0;
  if (error != 0 || !synced) Complain(std::strerror(error != 0 ? error : errno));
  return error == 0 && synced;
}

std::vector<RunRecord> RunHistory::Read(std::string* problem) const {
  std::vector<RunRecord> records;
  HistoryFile file;
  OpenHistory(path_, O_RDONLY, file);
  std::string text;
  for (char chunk[4096]; file.fd >= 0;) {
    const ssize_t got = ::read(file.fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) file.problem = std::strerror(errno);
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  if (problem != nullptr) *problem = file.problem;
  if (!file.problem.empty()) return records;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    // A line cut short by a power loss is skipped, not the history.
    if (auto record = ParseRecord(line)) records.push_back(std::move(*record));
  }
  return records;
}

std::vector<RunSummary> PairRuns(const std::vector<RunRecord>& records) {
  std::vector<RunSummary> runs;
  std::map<std::string, std::size_t> byRun;
  for (const RunRecord& r : records) {
    const auto [at, added] = byRun.try_emplace(r.run, runs.size());
    if (added) runs.push_back({r, std::nullopt});
    RunSummary& run = runs[at->second];
    if (r.event == "end") {
      run.end = r;
    } else {
      run.start = r;
    }
  }
  std::reverse(runs.begin(), runs.end());
  return runs;
}

std::string SummaryLine(const RunSummary& run) {
  const RunRecord& last = run.end ? *run.end : run.start;
  std::string line = run.start.time + "  " + last.program + "  " + last.drive + "  " + last.image + " (checksum " +
                     last.checksum + ")  ";
  if (!run.end) return line + kRunDidNotEnd;
  line += run.end->exitCode == 0 ? "done" : "exit " + std::to_string(run.end->exitCode) + ": " + run.end->result;
  if (run.end->heldSignal != 0) line += " (" + StopName(run.end->heldSignal) + " held until the write had ended)";
  return line;
}

}  // namespace ofs
