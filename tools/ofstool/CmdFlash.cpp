// ofstool flash: the update sequence of the window, driven from a terminal.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/Mainflash.h"
#include "drive/TransportFactory.h"
#include "firmware/Firmware.h"
#include "firmware/Ofs.h"
#include "ofstool/Commands.h"
#include "ofstool/FirmwareFileCheck.h"
#include "ofstool/FlashConfirmation.h"
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
  bool yes = false;  // the write is confirmed, and the update's questions answered OK unless `no`
  bool no = false;   // the update's questions answered Cancel
  bool force = false;
  std::string file;
};

constexpr char kUsage[] =
    "usage: ofstool flash [--drive N] [--verify|--no-verify] [--yes [--force]] [--no] [--reboot] [--dry-run] [FILE]\n"
    "Writes FILE (or the firmware this program carries) to the drive it fits, as the window's Start does.\n"
    "Before anything is written it shows the drive, the image and the flash type and asks\n"
    "'Write this firmware to drive N? [y/N]' on the terminal.\n"
    "  --drive N        the drive to write (see 'ofstool drives'); default: the first that fits\n"
    "  --verify, --no-verify  verify the flash afterwards, or not (default: the parameter block's)\n"
    "  --yes            answer that question, and the update's own questions, with yes\n"
    "  --force          with --yes: write even an image for another model or with a bad checksum\n"
    "  --no             answer the update's own questions with Cancel (also with --yes)\n"
    "  --reboot         answer the closing restart question with OK (default: Cancel)\n"
    "  --dry-run        go through everything up to the first command that writes, then stop\n"
    "Exit codes: 0 done; 1 failed, nothing was written to the drive; 2 usage, or not confirmed;\n"
    "3 failed after writing began, the drive may hold incomplete firmware; 4 aborted with Esc while\n"
    "the drive may still be programming.\n";

int Usage(const std::string& word) {
  std::fprintf(stderr, "ofstool flash: %s\n%s", word.c_str(), kUsage);
  return kExitUsage;
}

// The file (or the image this program carries) with the identity the window shows for it.
std::string ImageLine(const ofs::TMainForm& form, const ofstool::ConsoleView& view, const std::string& file) {
  const std::string source = file.empty() ? std::string("embedded image") : file;
  const std::string hardware =
      form.philipsImage ? std::string() : "hardware ID " + ofs::GetImageHardwareId(form.imageBuffer.get(), form.imageLength) + ", ";
  return source + ": " + view.Edit1() + " (" + hardware + "checksum " + view.Edit2() + ")";
}

std::string FlashKind(const ofs::TMainForm& form) {
  const uint8_t type = form.imageParameter.AtapiFlashType;
  if (form.philipsImage) return "Philips image";
  return "ATAPI flash type " + std::to_string(type) + " " + ofs::AtapiFlashTypeName(type);
}

std::string FlashLine(const ofs::TMainForm& form) {
  return FlashKind(form) + ", verification " + (form.verify ? "on" : "off");
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

// The word it could not take, or nothing.
std::optional<std::string> ParseOptions(int argc, char** argv, FlashOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--drive") {
      if (i + 1 == argc) return "--drive needs a drive number";
      options.drive = ParseDriveIndex(argv[++i]);
      if (!options.drive) return "not a drive number: " + std::string(argv[i]);
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
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
      options.file = arg;
    } else if (!arg.empty() && arg[0] != '-') {
      return "one firmware file only: " + arg;
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

void ReportDryRun(const ofs::TMainForm& form, const ofstool::ConsoleView& view, const std::string& driveLine,
                  int drive) {
  std::printf("Dry run: would flash %s (checksum %s, %s) to drive %d: %s\n", view.Edit1().c_str(),
              view.Edit2().c_str(), FlashKind(form).c_str(), drive, driveLine.c_str());
  std::printf("Dry run: verification %s; nothing was written to the drive.\n", form.verify ? "on" : "off");
}

}  // namespace

int ofstool::RunFlash(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return kExitDone;
    }
  }
  FlashOptions options;
  if (const auto wrong = ParseOptions(argc, argv, options)) return Usage(*wrong);

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
  options.console.progressLine = isatty(STDOUT_FILENO) != 0;
  ConsoleView view(options.console, stdout, stderr, stdin);
  ofs::TMainForm form({view, *transport.atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  if (options.drive) form.preferredDrive = static_cast<ofs::EDriveIndex>(*options.drive);
  form.dryRun = options.dryRun;

  form.FormCreate();
  if (form.startupFailed) return kExitUntouched;
  if (!options.file.empty()) {
    if (!FirmwareFileUsable(options.file)) return kExitUntouched;
    form.LoadFirmwareFile(options.file);
  }
  if (!view.IsEnabled(ofs::Control::BitBtn2)) {
    if (options.file.empty() && !form.updaterMode) std::fprintf(stderr, "No firmware file given.\n");
    return kExitUntouched;
  }
  const int item = view.SelectedDriveItem();
  if (item < 0 || item >= static_cast<int>(form.driveList.size())) return kExitUntouched;
  const int drive = form.driveList[static_cast<std::size_t>(item)];
  if (options.drive && *options.drive != drive) {
    if (*options.drive < transport.atapi->driveCount) {
      std::fprintf(stderr, "Drive %d does not fit this firmware.\n", *options.drive);
    } else {
      std::fprintf(stderr, "There is no drive %d. The drives are:\n", *options.drive);
      for (int i = 0; i < transport.atapi->driveCount; ++i) {
        std::fprintf(stderr, "  %d  %s\n", i, transport.atapi->drives[i].devicePath.c_str());
      }
    }
    return kExitUntouched;
  }
  if (options.verify) form.check_verifyClick(*options.verify);
  if (!options.dryRun) {
    const WritePlan plan{drive,
                         transport.atapi->drives[drive].devicePath,
                         view.DriveText(item),
                         ImageLine(form, view, options.file),
                         FlashLine(form),
                         form.WriteWarnings(static_cast<ofs::EDriveIndex>(drive))};
    const ConfirmOptions confirm{options.yes, options.force};
    if (const int refused = ConfirmWrite(plan, confirm, stdin, stdout, stderr); refused != 0) return refused;
  }

  // An exception in the sequence must not leave the tray locked.
  form.RunJob([](ofs::TMainForm& f) { f.BitBtn2Click(); });
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::DryRun) {
    ReportDryRun(form, view, view.DriveText(item), drive);
    return kExitDone;
  }
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::Completed) return kExitDone;
  return ReportFailure(*transport.atapi, drive);
}
