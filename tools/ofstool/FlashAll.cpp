#include "ofstool/FlashAll.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "app/Mainflash.h"
#include "app/RunRecorder.h"
#include "ofstool/FlashReport.h"
#include "system/MemorySettingStore.h"

namespace ofstool {
namespace {

// Each drive is held by its own worker; the caller offers the restart once, after
// every drive has finished.
class WorkerPlatform final : public ofs::Platform {
 public:
  WorkerPlatform(bool nt, const ofs::PowerReading& power) : nt_(nt), power_(power) {}
  bool IsNtPlatform() override { return nt_; }
  bool EnsureSingleInstance(const std::string&) override { return true; }
  void RestartSystem() override {}
  // Read once for all the drives: they start together on the same power.
  ofs::PowerReading ReadPower() override { return power_; }

 private:
  bool nt_;
  ofs::PowerReading power_;
};

struct Worker {
  int drive;
  std::unique_ptr<ofs::TAtapiImp> atapi;
  DriveOutcome outcome;
};

DriveOutcome Untouched(int drive, const std::string& why) {
  DriveOutcome outcome;
  outcome.drive = drive;
  outcome.code = kExitUntouched;
  outcome.text = why;
  return outcome;
}

void FlashOne(Worker& worker, const FlashAllSetup& setup, const WorkerPlatform& shared, ConsoleOptions options) {
  const int drive = worker.drive;
  WorkerPlatform platform(shared);
  ofs::MemorySettingStore settings;
  ConsoleView view(options, setup.out, setup.err, setup.in);
  ofs::TMainForm form({view, *worker.atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  const auto index = static_cast<ofs::EDriveIndex>(drive);
  form.onlyDrive = index;
  form.preferredDrive = index;
  form.startAgainAdvice = false;  // the verdict names the command to run again
  form.unwrittenLine = false;     // and says that nothing was written
  form.ignorePower = setup.ignorePower;
  form.FormCreate();
  if (!form.startupFailed && !setup.file.empty()) form.LoadFirmwareFile(setup.file);
  const int item = view.SelectedDriveItem();
  if (form.startupFailed || !view.IsEnabled(ofs::Control::BitBtn2) || item < 0 ||
      item >= static_cast<int>(form.driveList.size()) || form.driveList[static_cast<std::size_t>(item)] != index) {
    worker.outcome = Untouched(drive, "Drive " + std::to_string(drive) + " does not fit this firmware.");
    return;
  }
  if (setup.verify) form.check_verifyClick(*setup.verify);
  worker.outcome.drive = drive;
  worker.outcome.before = view.DriveText(item);
  std::optional<ofs::RunRecorder> recorder;
  if (setup.history) recorder.emplace(*setup.history, form, view, *worker.atapi, "ofstool");
  const auto start = std::chrono::steady_clock::now();
  form.RunJob([](ofs::TMainForm& f) { f.BitBtn2Click(); });
  worker.outcome.milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::Completed) {
    worker.outcome.after = view.DriveText(item);
    worker.outcome.code = kExitDone;
    worker.outcome.text = "done";
    if (recorder) recorder->End("done", "done", kExitDone);
    return;
  }
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::FlashedNotVerified) {
    worker.outcome.after = view.DriveText(item);
    const Verdict verdict = NotVerifiedVerdict(drive);
    worker.outcome.code = verdict.code;
    worker.outcome.text = verdict.text;
    worker.outcome.failure = ofs::kNotVerifiedResult;
    if (recorder) recorder->End(ofs::kNotVerifiedResult, verdict.text, verdict.code);
    return;
  }
  worker.outcome.failure = view.LastBoxText();
  const bool alike = recorder && recorder->FailedAlikeBefore(worker.outcome.failure);
  const bool touched = worker.atapi->writesReached > 0;
  const Verdict verdict = form.driveDisappeared ? DisappearedVerdict(touched, drive)
                                                : FailureVerdict(form, view, drive, touched, alike);
  worker.outcome.code = verdict.code;
  worker.outcome.text = verdict.text;
  if (recorder) recorder->End(worker.outcome.failure, verdict.text, verdict.code);
}

}  // namespace

std::vector<DriveOutcome> FlashDrives(const std::vector<int>& drives, const FlashAllSetup& setup) {
  // Every handle is made before any worker sends a command: making one may
  // enumerate the drives.
  std::vector<Worker> workers;
  for (int drive : drives) {
    Worker worker{drive, setup.atapi.Share(), {}};
    if (!worker.atapi) {
      worker.outcome = Untouched(drive, "This way of reaching drives serves one drive at a time.");
    } else if (worker.atapi->drives[drive].devicePath != setup.atapi.drives[drive].devicePath) {
      // A handle opens the drives anew: one that came or went since would shift the numbers.
      worker.outcome = Untouched(drive, "The drives changed while ofstool ran; nothing was sent to drive " +
                                            std::to_string(drive) + ".");
      worker.atapi.reset();
    } else {
      // One terminal, one key mode: no worker watches it for Esc.
      worker.atapi->escapeEndsWaits = false;
    }
    workers.push_back(std::move(worker));
  }
  const bool terminal = setup.console.progressLine && !setup.console.json;
  std::vector<std::string> labels;
  for (int drive : drives) labels.push_back("drive " + std::to_string(drive) + " ");
  std::unique_ptr<ProgressBoard> board;
  // With out in a file the bars go to the person's terminal, as the lines do.
  const Terminal* person = setup.console.terminal;
  std::FILE* bars = person != nullptr && person->Hidden(setup.out) ? person->Stream() : setup.out;
  if (terminal) board = std::make_unique<ProgressBoard>(bars, ofs::kProgressMax, labels);

  std::mutex output;
  std::vector<std::thread> threads;
  const WorkerPlatform shared(setup.platform.IsNtPlatform(), setup.platform.ReadPower());
  for (std::size_t i = 0; i < workers.size(); ++i) {
    if (!workers[i].atapi) continue;
    ConsoleOptions options = setup.console;
    options.progressLine = false;
    options.drive = workers[i].drive;
    options.outputLock = &output;
    options.startupShown = true;
    options.progress = board ? &board->Row(i) : nullptr;
    threads.emplace_back([&workers, &setup, &shared, options, i] { FlashOne(workers[i], setup, shared, options); });
  }
  for (std::thread& thread : threads) thread.join();
  board.reset();
  std::vector<DriveOutcome> outcomes;
  for (Worker& worker : workers) outcomes.push_back(std::move(worker.outcome));
  return outcomes;
}

int CombinedExitCode(const std::vector<DriveOutcome>& outcomes) {
  // By what the drive may need: nothing, a verification, a new run, a new run at once.
  const auto need = [](int code) {
    if (code == kExitNotVerified) return 1;
    return code == kExitDone ? 0 : code + 1;
  };
  int code = kExitDone;
  for (const DriveOutcome& outcome : outcomes)
    if (need(outcome.code) > need(code)) code = outcome.code;
  return code;
}

}  // namespace ofstool
