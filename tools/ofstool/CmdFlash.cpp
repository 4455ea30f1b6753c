// ofstool flash: the update sequence of the window, driven from a terminal.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/Mainflash.h"
#include "app/ModelRule.h"
#include "app/RunRecorder.h"
#include "drive/BridgeNote.h"
#include "drive/TransportFactory.h"
#include "firmware/Firmware.h"
#include "firmware/Ofs.h"
#include "ofstool/CmdFlashAll.h"
#include "ofstool/Commands.h"
#include "ofstool/ConsolePlatform.h"
#include "ofstool/DriveBackup.h"
#include "ofstool/DriveNumber.h"
#include "ofstool/FlashConfirmation.h"
#include "ofstool/FlashReport.h"
#include "ofstool/ImageLoading.h"
#include "ofstool/JsonWriter.h"
#include "ofstool/ConsoleView.h"
#include "ofstool/Terminal.h"
#include "system/LinuxPlatform.h"
#include "system/LoginInhibitor.h"
#include "system/MemorySettingStore.h"
#include "system/RunHistory.h"

namespace {

using namespace ofstool;

struct FlashOptions {
  ofstool::ConsoleOptions console;
  std::optional<int> drive;
  std::optional<bool> verify;
  bool dryRun = false;
  bool yes = false;  // the write is confirmed, and the update's questions answered OK unless `no`
  bool no = false;   // the update's questions answered Cancel
  bool force = false;
  bool json = false;  // JSON lines on stdout, the human texts on stderr
  std::string backup;  // where the drive's firmware is saved before anything is written
  bool all = false;   // every drive the image is for, at once
  bool ignorePower = false;  // flash on a low battery all the same
  std::string file;
};

// What the JSON result says besides the exit code.
struct RunReport {
  bool driveTouched = false;
  std::string text;
};

// Says why the run ends here and keeps it for the result.
int End(RunReport& report, int code, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  report.text = text;
  return code;
}

constexpr char kUsage[] =
    "usage: ofstool flash [--drive N] [--all] [--verify|--no-verify] [--yes [--force]] [--no] [--reboot] [--dry-run] [--json]\n"
    "                     [--backup OUT] [--ignore-power] [FILE]\n"
    "Writes FILE (or the firmware this program carries) to the drive it fits, as the window's Start does.\n"
    "Before anything is written it shows the drive, the image and the flash type and asks\n"
    "'Write this firmware to drive N? [y/N]' on the terminal.\n"
    "  --drive N        the drive to write (see 'ofstool drives'); default: the first that fits\n"
    "  --all            every drive the image is for, all at once (not with --drive, --dry-run, --backup); exit code\n"
    "                   0 only when every drive is done, else the worst of the drives' codes (3, 1, 5)\n"
    "  --verify, --no-verify  verify the flash afterwards, or not (default: the parameter block's)\n"
    "  --yes            answer that question, and the update's own questions, with yes\n"
    "  --force          with --yes: write even an image for another model, with a bad checksum, or a Philips image\n"
    "  --no             answer the update's own questions with Cancel (also with --yes)\n"
    "  --reboot         answer the closing restart question with OK (default: Cancel)\n"
    "  --dry-run        rehearse: the same question, warnings, refusals and exit code as without it,\n"
    "                   stopping before the tray check and the first command that writes\n"
    "  --json           JSON lines on stdout: line, progress, question and box events, then the result\n"
    "  --backup OUT     before the first write, save the drive's firmware to OUT (a new file; also in a\n"
    "                   dry run); if that fails nothing is written. 'ofstool flash OUT' rolls back\n"
    "  --ignore-power   flash even on a battery below 10% (never while the system shuts down or goes to sleep)\n"
    "Exit codes: 0 done, and verified where asked; 1 failed, nothing was written to the drive; 2 usage, or not\n"
    "confirmed; 3 failed after writing began, the drive may hold incomplete firmware; 5 the flash ended well but\n"
    "was not verified (a stop signal skipped it): 'ofstool verify FILE' checks it.\n"
    "A stop signal (Ctrl-C, SIGTERM, SIGHUP, SIGQUIT, Ctrl-Z), or Esc in a wait for the drive, ends the run before\n"
    "the first write (exit 1), waits for the end of the flash once writing has begun, and ends the run after it.\n"
    "Every run that writes is recorded in the run history: see 'ofstool history'.\n";

int Usage(const std::string& word) {
  std::fprintf(stderr, "ofstool flash: %s\n%s", word.c_str(), kUsage);
  return kExitUsage;
}

// The last word after a failed update: was the drive touched, and what next; the history gets it too.
int ReportFailure(RunReport& report, const ofs::TMainForm& form, const ofstool::ConsoleView& view, int drive,
                  ofs::RunRecorder& recorder, const std::string& failure) {
  const ofstool::Verdict verdict =
      form.driveDisappeared
          ? ofstool::DisappearedVerdict(report.driveTouched, drive)
          : ofstool::FailureVerdict(form, view, drive, report.driveTouched, recorder.FailedAlikeBefore(failure));
  recorder.End(failure, verdict.text, verdict.code);
  return End(report, verdict.code, verdict.text);
}

// The word it could not take, or nothing.
std::optional<std::string> ParseOptions(const Words& words, FlashOptions& options) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& arg = words[i].text;
    if (!words[i].option && !arg.empty()) {
      if (!options.file.empty()) return "one firmware file only: " + arg;
      options.file = arg;
    } else if (arg == "--drive") {
      if (i + 1 == words.size()) return "--drive needs a drive number";
      options.drive = ofstool::ParseDriveIndex(words[++i].text.c_str());
      if (!options.drive) return "not a drive number: " + words[i].text;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "--verify" || arg == "--no-verify") {
      options.verify = arg == "--verify";
    } else if (arg == "--yes") {
      options.yes = true;
    } else if (arg == "--no") {
      options.no = true;
    } else if (arg == "--reboot") {
      options.console.reboot = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (arg == "--backup") {
      // An empty value (an unset variable) or the next option is no file: never flash without the backup asked for.
      if (i + 1 == words.size() || words[i + 1].text.empty() || words[i + 1].option) {
        return "--backup needs a file to save to";
      }
      options.backup = words[++i].text;
    } else if (arg == "--all") {
      options.all = true;
    } else if (arg == "--ignore-power") {
      options.ignorePower = true;
    } else {
      return "unknown option " + arg;
    }
  }
  if (options.no) {
    options.console.answers = ofstool::AnswerPolicy::No;
  } else if (options.yes) {
    options.console.answers = ofstool::AnswerPolicy::Yes;
  }
  return std::nullopt;
}

void ReportDryRun(std::FILE* to, const ofs::TMainForm& form, const ofstool::ConsoleView& view,
                  const std::string& driveLine, int drive) {
  std::fprintf(to, "Dry run: would flash %s (checksum %s, %s) to drive %d: %s\n", view.Edit1().c_str(),
               view.Edit2().c_str(), FlashKind(form).c_str(), drive, driveLine.c_str());
  std::fprintf(to, "Dry run: verification %s; nothing was written to the drive.\n", form.verify ? "on" : "off");
}

int Flash(FlashOptions& options, RunReport& report) {
  using namespace ofstool;
  std::FILE* human = options.json ? stderr : stdout;  // what a person reads, out of the JSON's way
  // A stop signal ends the run before the first write and waits for the end of the writing after it.
  const ofs::StopSignalCatch stops;
  ConsolePlatform platform;
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) return End(report, kExitUntouched, transport.error);
  // Esc in a ready wait before the first write ends the program there; once writing has begun it is held.
  transport.atapi->userAbortExitCode = kExitUntouched;
  transport.atapi->userAbortNotice =
      "ofstool: aborted by the user (Esc) while waiting for the drive. Nothing was written to the drive.";
  ofs::MemorySettingStore settings;
  const Terminal terminal = Terminal::OfThisRun();
  options.console.json = options.json;
  options.console.terminal = &terminal;
  options.console.progressLine = !options.json && (isatty(STDOUT_FILENO) != 0 || terminal.Hidden(stdout));
  ConsoleView view(options.console, stdout, stderr, stdin);
  ofs::TMainForm form({view, *transport.atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  if (options.drive) form.preferredDrive = static_cast<ofs::EDriveIndex>(*options.drive);
  // A drive that lost its identity can only be written when named and forced; named, it is
  // kept, so that the refusal can say what stops it.
  if (options.drive) form.unidentifiedAllowed = static_cast<ofs::EDriveIndex>(*options.drive);
  form.dryRun = options.dryRun;
  form.ignorePower = options.ignorePower;
  form.startAgainAdvice = false;  // the exit text names the command to run again
  form.unwrittenLine = false;     // and says that nothing was written

  const DriveChoice chosen = LoadImageForDrive(form, view, *transport.atapi, options.file, options.drive, "write",
                                               "nothing was written.");
  if (!chosen.failure.empty()) return End(report, kExitUntouched, chosen.failure);
  const int item = chosen.item;
  const int drive = chosen.drive;
  if (!options.force && form.IsUnidentified(static_cast<ofs::EDriveIndex>(drive))) {
    return End(report, kExitUsage,
               "ofstool: not written: " + ofs::NoIdentityReason(drive) +
                   "; add --force to write it anyway. Nothing was written to the drive.");
  }
  if (options.verify) form.check_verifyClick(*options.verify);
  // A dry run is asked and refused as the real run is: it rehearses that run.
  const WritePlan plan{drive,
                       transport.atapi->drives[drive].devicePath,
                       view.DriveText(item),
                       ImageLine(form, view, options.file),
                       FlashLine(form),
                       form.WriteWarnings(static_cast<ofs::EDriveIndex>(drive)),
                       ofs::UsbBridgeNote(*transport.atapi, drive)};
  const ConfirmOptions confirm{options.yes, options.force};
  if (const Confirmation refused = ConfirmWrite(plan, confirm, stdin, human, terminal); refused.code != 0) {
    // Stopped while starting up or asking (the answer then reads as no): a stop all the same.
    if (ofs::CaughtStopSignal() != 0) return End(report, kExitUntouched, FailureVerdict(form, view, drive, false, false).text);
    return End(report, refused.code, refused.text);
  }
  form.writeWarningsAccepted = true;

  // From here the drive is held: no suspend, shutdown or lid switch under it.
  const ofs::LoginInhibitor sleepLock("ofstool", stderr);
  if (!options.backup.empty()) {
    const BackupRequest backup{static_cast<ofs::DriveIndex>(drive), form.imageParameter, form.imageLength,
                               form.philipsImage, options.backup};
    const BackupOutcome saved = BackUpDrive(backup, *transport.atapi, view);
    if (!saved.saved) return End(report, kExitUntouched, saved.text + " Nothing was written to the drive.");
    std::fprintf(human, "%s\n", saved.text.c_str());
  }
  ofs::RunHistory history(ofs::DefaultHistoryPath());
  ofs::RunRecorder recorder(history, form, view, *transport.atapi, "ofstool");
  // An exception in the sequence must not leave the tray locked.
  form.RunJob([](ofs::TMainForm& f) { f.BitBtn2Click(); });
  view.EndProgress();
  report.driveTouched = transport.atapi->writesReached > 0;
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::DryRun) {
    ReportDryRun(human, form, view, view.DriveText(item), drive);
    report.text = "dry run; nothing was written";
    return kExitDone;
  }
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::Completed) {
    report.text = "done";
    recorder.End(report.text, report.text, kExitDone);
    return kExitDone;
  }
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::FlashedNotVerified) {
    const Verdict verdict = NotVerifiedVerdict(drive);
    recorder.End(ofs::kNotVerifiedResult, verdict.text, verdict.code);
    End(report, verdict.code, verdict.text);
    report.text = ofs::kNotVerifiedResult;
    return verdict.code;
  }
    return ReportFailure(report, form, view, drive, recorder, view.LastBoxText());
}

}  // namespace

int ofstool::RunFlash(const Words& words) {
  if (AsksForHelp(words)) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  FlashOptions options;
  if (const auto wrong = ParseOptions(words, options)) return Usage(*wrong);
  if (options.all && (options.drive || options.dryRun || !options.backup.empty())) {
    return Usage("--all goes without --drive, --dry-run and --backup");
  }
  if (options.all) {
    return RunFlashAll(
        {options.console, options.verify, options.yes, options.force, options.json, options.ignorePower, options.file});
  }
  RunReport report;
  const int code = Flash(options, report);
  if (options.json) {
    JsonWriter result;
    result.BeginObject().Key("event").String("result").Key("exit").Number(code);
    result.Key("drive_touched").Bool(report.driveTouched).Key("text").String(report.text).EndObject();
    std::fputs(result.Text().c_str(), stdout);
  }
  return code;
}
