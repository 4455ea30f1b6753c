#include "app/RunRecorder.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "firmware/Ofs.h"

namespace ofs {

int RunExitCode(bool completed, bool touched) {
  if (completed) return kRunExitDone;
  return touched ? kRunExitMaybeIncomplete : kRunExitUntouched;
}

RunRecorder::RunRecorder(RunHistory& history, TMainForm& form, MainView& view, TAtapiImp& atapi,
                         std::string program)
    : history_(history), form_(form), view_(view), atapi_(atapi) {
  record_.program = std::move(program);
  // Asked now: once writing has begun the window's thread may be gone (exit() waits for the flash).
  record_.driveBefore = SelectedDriveLine();
  form_.onWritePhaseBegins = [this] { Begin(true); };
  // A run refused on the system's power is kept too: it explains a flash that never came.
  form_.onPowerRefusal = [this] { Begin(false); };
  form_.failedAlikeBefore = [this](const std::string& result) { return FailedAlikeBefore(result); };
}

RunRecorder::~RunRecorder() {
  form_.onWritePhaseBegins = nullptr;
  form_.onPowerRefusal = nullptr;
  form_.failedAlikeBefore = nullptr;
}

std::string RunRecorder::SelectedDriveLine() {
  const int item = view_.SelectedDriveItem();
  return item < 0 ? std::string() : view_.DriveText(item);
}

void RunRecorder::Begin(bool writing) {
  const TAtapiImp& atapi = atapi_;
  writesBefore_ = atapi.writesReached;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  record_.event = "start";
  record_.time = UtcNow();
  record_.drive = atapi.drives[atapi.currentDrive].devicePath;
  // Unique across processes and the drives one process flashes at once.
  record_.run = std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) + "-" +
                std::to_string(::getpid()) + "-" + std::to_string(atapi.currentDrive);
  // Absolute: the history is read from wherever its reader stands.
  std::error_code error;
  const std::filesystem::path file = std::filesystem::absolute(form_.imageFile, error);
  record_.image = form_.imageFile.empty() ? "embedded image" : (error ? form_.imageFile : file.string());
  char checksum[8] = {};
  std::snprintf(checksum, sizeof checksum, "%04X", static_cast<unsigned>(form_.imageChecksum));
  record_.checksum = checksum;
  record_.flashType = form_.philipsImage ? std::string("Philips image")
                                         : std::to_string(form_.imageParameter.AtapiFlashType) + " " +
                                               AtapiFlashTypeName(form_.imageParameter.AtapiFlashType);
  record_.touched = writing;
  started_ = true;
  history_.Append(record_);
}

bool RunRecorder::FailedAlikeBefore(const std::string& result) const {
  if (!started_ || result.empty()) return false;
  const std::vector<RunRecord> records = history_.Read();
  for (auto r = records.rbegin(); r != records.rend(); ++r) {
    if (r->event != "end" || r->run == record_.run) continue;
    if (r->drive != record_.drive || r->checksum != record_.checksum) continue;
    return r->exitCode != kRunExitDone && r->result == result;
  }
  return false;
}

void RunRecorder::End(const std::string& result, const std::string& advice, int exitCode) {
  if (!started_) return;
  RunRecord end = record_;
  end.event = "end";
  end.time = UtcNow();
  // Never the line from before the flash: what the drive told after it, or unknown.
  end.driveAfter = form_.driveLineAfterWriting.value_or(kDriveAfterUnknown);
  end.result = form_.driveDisappeared ? std::string(kDriveDisappeared) : result;
  end.advice = advice;
  end.exitCode = exitCode;
  end.touched = Touched();
  end.heldSignal = form_.heldSignal;
  history_.Append(end);
}

}  // namespace ofs
