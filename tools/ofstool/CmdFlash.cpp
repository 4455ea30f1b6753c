// ofstool flash: the update sequence of the window, driven from a terminal.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/Mainflash.h"
#include "drive/TransportFactory.h"
#include "firmware/Ofs.h"
#include "ofstool/Commands.h"
#include "ofstool/ConsoleView.h"
#include "system/LinuxPlatform.h"
#include "system/MemorySettingStore.h"

namespace {

// What the exit code says about the drive.
constexpr int kExitDone = 0;
constexpr int kExitUntouched = 1;       // failed before anything was written
constexpr int kExitUsage = 2;
constexpr int kExitMaybeIncomplete = 3;  // failed after writing began
constexpr int kExitAbortedByUser = 4;    // Esc in the drive's wait: it may still be programming

struct FlashOptions {
  ofstool::ConsoleOptions console;
  std::optional<int> drive;
  std::optional<bool> verify;
  bool dryRun = false;
  std::string file;
};

int Usage() {
  std::fprintf(stderr,
               "usage: ofstool flash [--drive N] [--verify|--no-verify] [--yes|--no] [--reboot] [--dry-run] [FILE]\n"
               "exit codes: 0 done; 1 failed, nothing was written to the drive; 2 usage; 3 failed after writing\n"
               "began, the drive may hold incomplete firmware; 4 aborted with Esc while the drive may still be\n"
               "programming\n");
  return kExitUsage;
}

// The last word after a failed update: was the drive touched, and what next.
int ReportFailure(const ofs::TAtapiImp& atapi, int drive) {
  if (atapi.writesReached == 0) {
    std::fprintf(stderr,
                 "ofstool: nothing was written to drive %d; it still holds the firmware it had. "
                 "Mend the cause above and run the same command again.\n",
                 drive);
    return kExitUntouched;
  }
  std::fprintf(stderr,
               "ofstool: drive %d may hold incomplete firmware. Do not power it off or restart the machine: "
               "run the same command again now, so that the whole image is written.\n",
               drive);
  return kExitMaybeIncomplete;
}

std::optional<int> ParseDriveIndex(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 255) return std::nullopt;
  return static_cast<int>(value);
}

// Returns false on a word it does not know.
bool ParseOptions(int argc, char** argv, FlashOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--drive" && i + 1 < argc) {
      options.drive = ParseDriveIndex(argv[++i]);
      if (!options.drive) return false;
    } else if (arg == "--verify" || arg == "--no-verify") {
      options.verify = arg == "--verify";
    } else if (arg == "--yes") {
      options.console.answers = ofstool::AnswerPolicy::Yes;
    } else if (arg == "--no") {
      options.console.answers = ofstool::AnswerPolicy::No;
    } else if (arg == "--reboot") {
      options.console.reboot = true;
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
      options.file = arg;
    } else {
      return false;
    }
  }
  return true;
}

void ReportDryRun(const ofs::TMainForm& form, const ofstool::ConsoleView& view, const std::string& driveLine,
                  int drive) {
  const uint8_t type = form.imageParameter.AtapiFlashType;
  const std::string kind = form.philipsImage ? std::string("Philips image")
                                             : "ATAPI flash type " + std::to_string(type) + " " +
                                                   ofs::AtapiFlashTypeName(type);
  std::printf("Dry run: would flash %s (checksum %s, %s) to drive %d: %s\n", view.Edit1().c_str(),
              view.Edit2().c_str(), kind.c_str(), drive, driveLine.c_str());
  std::printf("Dry run: verification %s; nothing was written to the drive.\n", form.verify ? "on" : "off");
}

}  // namespace

int ofstool::RunFlash(int argc, char** argv) {
  FlashOptions options;
  if (!ParseOptions(argc, argv, options)) return Usage();

  ofs::LinuxPlatform platform;
  // Taken here to say why nothing happens; start-up asks again and keeps it.
  if (!platform.EnsureSingleInstance(ofs::kApplicationTitle)) {
    std::fprintf(stderr, "Another ofsflash or ofstool flash is running.\n");
    return kExitUntouched;
  }
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) {
    std::fprintf(stderr, "%s\n", transport.error.c_str());
    return kExitUntouched;
  }
  // Esc in a ready wait ends the program there; the drive may still be working.
  transport.atapi->userAbortExitCode = kExitAbortedByUser;
  transport.atapi->userAbortNotice =
      "ofstool: aborted by the user (Esc) while waiting for the drive; the drive may still be programming. "
      "Do not power it off: give it a few minutes, then look at it with 'ofstool drives'.";
  ofs::MemorySettingStore settings;
  ConsoleView view(options.console, stdout, stderr, stdin);
  ofs::TMainForm form({view, *transport.atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  if (options.drive) form.preferredDrive = static_cast<ofs::EDriveIndex>(*options.drive);
  form.dryRun = options.dryRun;

  form.FormCreate();
  if (form.startupFailed) return kExitUntouched;
  if (!options.file.empty()) form.LoadFirmwareFile(options.file);
  if (!view.IsEnabled(ofs::Control::BitBtn2)) {
    if (options.file.empty() && !form.updaterMode) std::fprintf(stderr, "No firmware file given.\n");
    return kExitUntouched;
  }
  const int item = view.SelectedDriveItem();
  if (item < 0 || item >= static_cast<int>(form.driveList.size())) return kExitUntouched;
  const int drive = form.driveList[static_cast<std::size_t>(item)];
  if (options.drive && *options.drive != drive) {
    std::fprintf(stderr, "Drive %d does not fit this firmware.\n", *options.drive);
    return kExitUntouched;
  }
  if (options.verify) form.check_verifyClick(*options.verify);

  // An exception in the sequence must not leave the tray locked.
  form.RunJob([](ofs::TMainForm& f) { f.BitBtn2Click(); });
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::DryRun) {
    ReportDryRun(form, view, view.DriveText(item), drive);
    return kExitDone;
  }
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::Completed) return kExitDone;
  return ReportFailure(*transport.atapi, drive);
}
