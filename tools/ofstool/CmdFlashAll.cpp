// ofstool flash --all: one image to every drive it is for, all at once.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/Mainflash.h"
#include "drive/BridgeNote.h"
#include "drive/IdentityText.h"
#include "drive/TransportFactory.h"
#include "ofstool/CmdFlashAll.h"
#include "ofstool/ConsolePlatform.h"
#include "ofstool/ContainerFile.h"
#include "ofstool/FirmwareFileCheck.h"
#include "ofstool/FlashAll.h"
#include "ofstool/FlashConfirmation.h"
#include "ofstool/FlashReport.h"
#include "ofstool/JsonWriter.h"
#include "ofstool/Terminal.h"
#include "system/LinuxPlatform.h"
#include "system/LoginInhibitor.h"
#include "system/MemorySettingStore.h"
#include "system/RunHistory.h"

namespace ofstool {
namespace {

struct Run {
  std::vector<DriveOutcome> outcomes;
  std::string text;  // why the run ended before any drive, or empty
};

// The drives listed that the image is for, and a line for each one left alone.
std::vector<int> DrivesForImage(ofs::TMainForm& form, const ofs::TAtapiImp& atapi, std::FILE* human) {
  std::vector<int> drives;
  for (ofs::EDriveIndex d : form.driveList) {
    if (form.ImageIsForDrive(d)) {
      drives.push_back(d);
    } else {
      std::fprintf(human, "Left alone: drive %d (%s): the image is not for its model and hardware ID.\n", d,
                   ofs::ShownName(atapi.drives[d].devicePath).c_str());
    }
  }
  return drives;
}

// Every drive's newer-firmware question, asked once before anything is written.
std::optional<bool> AskNewerFirmwareOnce(ofs::TMainForm& form, ConsoleView& view, const std::vector<int>& drives) {
  std::string questions;
  for (int d : drives) {
    const std::string question = form.NewerFirmwareQuestion(static_cast<ofs::EDriveIndex>(d));
    if (!question.empty()) questions += "drive " + std::to_string(d) + ": " + question + "\n";
  }
  if (questions.empty()) return std::nullopt;
  return view.AskOkCancel(questions + "Update these drives too ?", "Warning!");
}

int FlashAll(FlashAllRequest& options, Run& run) {
  std::FILE* human = options.json ? stderr : stdout;
  const ofs::StopSignalCatch stops;  // held for every drive's write phase, as for one drive
  ConsolePlatform platform;
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) {
    run.text = transport.error;
    return kExitUntouched;
  }
  transport.atapi->escapeEndsWaits = false;
  ofs::MemorySettingStore settings;
  ConsoleOptions mainOptions = options.console;
  mainOptions.progressLine = false;
  ConsoleView view(mainOptions, stdout, stderr, stdin);
  ofs::TMainForm form({view, *transport.atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  form.FormCreate();
  if (form.startupFailed) {
    run.text = "ofstool: start-up ended early; nothing was written.";
    return kExitUntouched;
  }
  if (!options.file.empty()) {
    if (!FirmwareFileUsable(options.file)) {
      run.text = "ofstool: nothing was written.";
      return kExitUntouched;
    }
    form.LoadFirmwareFile(options.file);
  }
  if (options.verify) form.check_verifyClick(*options.verify);
  const std::vector<int> drives =
      view.IsEnabled(ofs::Control::BitBtn2) ? DrivesForImage(form, *transport.atapi, human) : std::vector<int>{};
  if (drives.empty()) {
    const std::string notAContainer = options.file.empty() ? std::string() : NotAContainerLine(options.file);
    run.text = notAContainer.empty() ? "ofstool: no drive this image is for; nothing was written." : notAContainer;
    return kExitUntouched;
  }
  std::vector<WritePlan> plans;
  for (int d : drives) {
    const auto item = std::find(form.driveList.begin(), form.driveList.end(), d) - form.driveList.begin();
    plans.push_back({d, transport.atapi->drives[d].devicePath, view.DriveText(static_cast<int>(item)),
                     ImageLine(form, view, options.file), FlashLine(form),
                     form.WriteWarnings(static_cast<ofs::EDriveIndex>(d)), ofs::UsbBridgeNote(*transport.atapi, d)});
  }
  const Confirmation refused =
      ConfirmWrites(plans, {options.yes, options.force}, stdin, human, *options.console.terminal);
  if (refused.code != 0) {
    run.text = refused.text;
    return refused.code;
  }
  const std::optional<bool> newer = AskNewerFirmwareOnce(form, view, drives);
  FlashAllSetup setup{*transport.atapi, platform, options.file, options.verify, options.console, stdout, stderr, stdin};
  setup.console.newerFirmwareAnswer = newer;
  ofs::RunHistory history(ofs::DefaultHistoryPath());
  setup.history = &history;
  setup.ignorePower = options.ignorePower;
  {
    // One lock for the whole run: no suspend, shutdown or lid switch while any drive is held.
    const ofs::LoginInhibitor sleepLock("ofstool", stderr);
    run.outcomes = FlashDrives(drives, setup);
  }
  const int code = CombinedExitCode(run.outcomes);
  if (ofs::CaughtStopSignal() == 0 &&
      std::any_of(run.outcomes.begin(), run.outcomes.end(), [](const DriveOutcome& o) { return o.code == 0; }) &&
      view.AskOkCancel(ofs::kRestartQuestion, "Check")) {
    platform.RestartSystem();
  }
  return code;
}

// The table, then what each failure means for its drive.
void PrintSummary(std::FILE* to, const std::vector<DriveOutcome>& outcomes) {
  std::fprintf(to, "\n%-5s  %-40s  %-40s  %7s  %s\n", "drive", "before", "after", "seconds", "result");
  for (const DriveOutcome& o : outcomes) {
    const std::string result =
        o.code == 0 ? "done" : "exit " + std::to_string(o.code) + (o.failure.empty() ? "" : ": " + o.failure);
    std::fprintf(to, "%-5d  %-40.40s  %-40.40s  %7.1f  %s\n", o.drive, o.before.c_str(), o.after.c_str(),
                 static_cast<double>(o.milliseconds) / 1000.0, result.c_str());
  }
  std::fflush(to);
  for (const DriveOutcome& o : outcomes) {
    if (o.code != 0) std::fprintf(stderr, "%s\n", o.text.c_str());
  }
}

std::string ResultJson(int code, const Run& run) {
  JsonWriter result;
  result.BeginObject().Key("event").String("result").Key("exit").Number(code).Key("text").String(run.text);
  result.Key("drives").BeginArray();
  for (const DriveOutcome& o : run.outcomes) {
    result.BeginObject().Key("drive").Number(o.drive).Key("before").String(o.before).Key("after").String(o.after);
    result.Key("exit").Number(o.code).Key("failure").String(o.failure).Key("text").String(o.text);
    result.Key("milliseconds").Number(o.milliseconds);
    result.EndObject();
  }
  result.EndArray().EndObject();
  return result.Text();
}

}  // namespace

int RunFlashAll(FlashAllRequest request) {
  const Terminal terminal = Terminal::OfThisRun();
  request.console.json = request.json;
  request.console.terminal = &terminal;
  request.console.progressLine = !request.json && (isatty(STDOUT_FILENO) != 0 || terminal.Hidden(stdout));
  Run run;
  const int code = FlashAll(request, run);
  if (!run.text.empty()) std::fprintf(stderr, "%s\n", run.text.c_str());
  if (!run.outcomes.empty()) PrintSummary(request.json ? stderr : stdout, run.outcomes);
  if (request.json) std::fputs(ResultJson(code, run).c_str(), stdout);
  return code;
}

}  // namespace ofstool
