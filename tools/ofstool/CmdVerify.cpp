// ofstool verify: does the drive hold this image? The check that follows a flash,
// with nothing written and nothing asked.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/Mainflash.h"
#include "drive/IdentityText.h"
#include "drive/TransportFactory.h"
#include "firmware/EmbeddedAreas.h"
#include "flash/Verify.h"
#include "ofstool/Commands.h"
#include "ofstool/ConsolePlatform.h"
#include "ofstool/ConsoleView.h"
#include "ofstool/DriveNumber.h"
#include "ofstool/ImageLoading.h"
#include "ofstool/JsonWriter.h"
#include "ofstool/SenseText.h"
#include "system/MemorySettingStore.h"
#include "system/StopSignals.h"

namespace {

using namespace ofstool;

constexpr int kExitMatches = 0;
constexpr int kExitNoMatch = 1;  // it differs, or it could not be checked
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: ofstool verify [--drive N] [--json] FILE\n"
    "Tells whether the drive holds FILE, checked as the update checks it after a flash: by the drive's own\n"
    "checksum report where it has one, else by reading its flash back and comparing it with FILE outside the\n"
    "reserved blocks. Nothing is written to the drive and nothing is asked; the drive is held meanwhile.\n"
    "  --drive N  the drive to check (see 'ofstool drives'), of any model; default: the first FILE fits\n"
    "  --json     the result as one JSON object on stdout\n"
    "Exit codes: 0 the drive holds FILE; 1 it does not, or it could not be checked (the text says which);\n"
    "2 usage.\n";

struct VerifyOptions {
  std::optional<int> drive;
  bool json = false;
  std::string file;
};

struct VerifyReport {
  std::optional<int> drive;  // once chosen
  std::optional<ofs::FlashCheck> check;  // once the drive was asked
  std::string imageChecksum;
  std::string text;
};

struct Stopped {};

// Lets the drive go on every way out.
struct DriveRelease {
  ofs::TAtapiImp& atapi;
  ~DriveRelease() {
    atapi.beforeCommand = nullptr;
    atapi.ReleaseDrive();
  }
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "ofstool verify: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

// The word it could not take, or nothing.
std::optional<std::string> ParseOptions(const Words& words, VerifyOptions& options) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& arg = words[i].text;
    if (!words[i].option) {
      if (arg.empty() || !options.file.empty()) return "unexpected " + arg;
      options.file = arg;
    } else if (arg == "--drive") {
      if (i + 1 == words.size()) return "--drive needs a drive number";
      options.drive = ParseDriveIndex(words[++i].text.c_str());
      if (!options.drive) return "not a drive number: " + words[i].text;
    } else if (arg == "--json") {
      options.json = true;
    } else {
      return "unexpected " + arg;
    }
  }
  if (options.file.empty()) return "the firmware file (FILE) is needed";
  return std::nullopt;
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

// What a person reads of a check the drive answered, or why it could not be made.
std::string CheckText(const ofs::FlashCheck& check, const std::string& drive, const std::string& file,
                      const std::string& imageChecksum, const ofs::TAtapiImp& atapi) {
  using Outcome = ofs::FlashCheck::Outcome;
  const std::string unknown = " Whether it holds " + file + " is not known.";
  switch (check.outcome) {
    case Outcome::Matches:
      return "matches: " + drive + " holds " + file +
             (check.byChecksum ? " (its checksum report gives " + imageChecksum + ", the image's)"
                               : " (its flash read back equals the image outside the reserved blocks)");
    case Outcome::Differs:
      if (check.byChecksum) {
        return "differs: " + drive + " reports checksum " + Hex(check.driveChecksum, 4) + ", " + file + " has " +
               imageChecksum + " (a checksum tells no address)";
      }
      return "differs: " + drive + " does not hold " + file + ": the first differing byte is at 0x" +
             Hex(check.firstDifference, 1) + ", " + std::to_string(check.differingBytes) +
             (check.differingBytes == 1 ? " byte differs" : " bytes differ") + " (reserved blocks left out)";
    case Outcome::Unanswered:
      return "ofstool: could not check " + drive + ": it did not answer " +
             (check.byChecksum ? std::string("the checksum query") : "ReadRomData, the command that reads its flash") +
             " (sense " + SenseOfLastCommand(atapi) + ")." + unknown;
    case Outcome::BeyondReadBack:
      break;
  }
  return "ofstool: could not check " + drive + ": " + file +
         " is larger than 16 MiB and the drive cannot report its checksum, so its flash cannot be read back that "
         "far." + unknown;
}

// The drive told what it holds: it matches or it differs.
bool Answered(const ofs::FlashCheck& check) {
  return check.outcome == ofs::FlashCheck::Outcome::Matches || check.outcome == ofs::FlashCheck::Outcome::Differs;
}

int End(VerifyReport& report, int code, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  report.text = text;
  return code;
}

int Verify(const VerifyOptions& options, VerifyReport& report) {
  // Read only: a stop signal ends it at the next command, the drive given back.
  const ofs::StopSignalCatch stops;
  ConsolePlatform platform;
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) return End(report, kExitNoMatch, transport.error);
  ofs::TAtapiImp& atapi = *transport.atapi;
  atapi.userAbortExitCode = kExitNoMatch;
  atapi.userAbortNotice = "ofstool: aborted by the user (Esc) while waiting for the drive; nothing was checked.";
  ofs::MemorySettingStore settings;
  ConsoleOptions console;
  console.startupShown = true;  // the window's lines are not this command's
  console.progressLine = !options.json && isatty(STDOUT_FILENO) != 0;
  ConsoleView view(console, stdout, stderr, nullptr);
  ofs::TMainForm form({view, atapi, platform, settings, ofs::ProgramEmbeddedAreas()});
  if (options.drive) form.preferredDrive = form.readOnlyDrive = static_cast<ofs::EDriveIndex>(*options.drive);
  const DriveChoice chosen =
      LoadImageForDrive(form, view, atapi, options.file, options.drive, "check", "nothing was checked.");
  if (!chosen.failure.empty()) return End(report, kExitNoMatch, chosen.failure);
  report.drive = chosen.drive;
  const auto d = static_cast<ofs::EDriveIndex>(chosen.drive);
  const std::string drive = "drive " + std::to_string(d) + " (" + ofs::ShownName(atapi.drives[d].devicePath) + ")";
  if (form.philipsImage) {
    return End(report, kExitNoMatch,
               "ofstool: could not check " + drive + ": a Philips image has no verification, not even after a flash.");
  }
  report.imageChecksum = Hex(form.imageChecksum, 4);
  // Any drive may be read, but a person should know when it is not the image's (or the file looks damaged).
  for (const std::string& warning : form.WriteWarnings(d)) std::fprintf(stderr, "%s\n", warning.c_str());
  if (const std::string busy = atapi.ClaimDrive(d); !busy.empty()) {
    return End(report, kExitNoMatch, "ofstool: could not check " + drive + ": " + busy);
  }
  const DriveRelease release{atapi};
  atapi.beforeCommand = [](bool) {
    if (ofs::CaughtStopSignal() != 0) throw Stopped{};
  };
  ofs::FlashContext ctx{atapi, view, form.imageBuffer.get(), form.imageLength, form.imageParameter,
                        form.imageChecksum, form.senseData, true, false};
  try {
    if (ofs::CaughtStopSignal() != 0) throw Stopped{};
    report.check = ofs::CheckFlash(ctx, d);
  } catch (const Stopped&) {
    view.EndProgress();
    return End(report, kExitNoMatch, "ofstool: stopped before the check was done; nothing was checked.");
  }
  view.EndProgress();
  const std::string text = CheckText(*report.check, drive, options.file, report.imageChecksum, atapi);
  const bool answered = Answered(*report.check);
  if (!answered) return End(report, kExitNoMatch, text);
  std::fprintf(options.json ? stderr : stdout, "%s\n", text.c_str());
  report.text = text;
  return report.check->outcome == ofs::FlashCheck::Outcome::Matches ? kExitMatches : kExitNoMatch;
}

void PrintJson(const VerifyReport& report, int code) {
  using Outcome = ofs::FlashCheck::Outcome;
  JsonWriter result;
  result.BeginObject().Key("matches").Bool(code == kExitMatches).Key("exit").Number(code);
  const ofs::FlashCheck* check = report.check ? &*report.check : nullptr;
  const bool checked = check && Answered(*check);
  if (report.drive) result.Key("drive").Number(*report.drive);
  result.Key("checked").Bool(checked);
  if (checked) {
    result.Key("method").String(check->byChecksum ? "checksum" : "read-back");
    result.Key("image_checksum").String(report.imageChecksum);
    if (check->byChecksum) result.Key("drive_checksum").String(Hex(check->driveChecksum, 4));
    if (!check->byChecksum && check->outcome == Outcome::Differs) {
      result.Key("first_difference").Number(check->firstDifference);
      result.Key("differing_bytes").Number(check->differingBytes);
    }
  }
  result.Key("text").String(report.text).EndObject();
  std::fputs(result.Text().c_str(), stdout);
}

}  // namespace

int ofstool::RunVerify(const Words& words) {
  if (AsksForHelp(words)) {
    std::fputs(kUsage, stdout);
    return kExitMatches;
  }
  VerifyOptions options;
  if (const auto wrong = ParseOptions(words, options)) return Usage(*wrong);
  VerifyReport report;
  const int code = Verify(options, report);
  if (options.json) PrintJson(report, code);
  return code;
}
