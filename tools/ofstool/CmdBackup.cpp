// ofstool backup [--drive N] --like IMAGE OUT: a drive's firmware saved as a container.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/ModelRule.h"
#include "drive/IdentityText.h"
#include "drive/TransportFactory.h"
#include "firmware/Firmware.h"
#include "ofstool/Commands.h"
#include "ofstool/ConsoleView.h"
#include "ofstool/ContainerFile.h"
#include "ofstool/DriveBackup.h"
#include "ofstool/DriveNumber.h"
#include "system/LinuxPlatform.h"

namespace {

constexpr int kExitSaved = 0;
constexpr int kExitNotSaved = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: ofstool backup [--drive N] [--force] --like IMAGE OUT\n"
    "Reads the drive's flash over the layout of IMAGE (its banks, slot size and flash type) and saves it\n"
    "as the container OUT, which 'ofstool flash OUT' writes back. Nothing is written to the drive.\n"
    "  --drive N     the drive to read (see 'ofstool drives'); default: the first of IMAGE's model\n"
    "  --like IMAGE  a firmware file for this drive: the backup takes its layout and header\n"
    "  --force       read even a drive of another model or hardware ID than IMAGE's, or one that tells\n"
    "                no model, over IMAGE's layout and flash type (which rolling back then uses)\n"
    "OUT must not exist yet. Exit codes: 0 saved; 1 not saved (OUT was not created); 2 usage, or the drive\n"
    "is not IMAGE's model and --force was not given.\n";

struct BackupOptions {
  std::optional<int> drive;
  bool force = false;
  std::string like;
  std::string out;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "ofstool backup: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

// The word it could not take, or nothing.
std::optional<std::string> ParseOptions(const ofstool::Words& words, BackupOptions& options) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& arg = words[i].text;
    if (!words[i].option) {
      if (arg.empty() || !options.out.empty()) return "unexpected " + arg;
      options.out = arg;
    } else if ((arg == "--drive" || arg == "--like") && i + 1 == words.size()) {
      return arg + " needs a value";
    } else if (arg == "--drive") {
      options.drive = ofstool::ParseDriveIndex(words[++i].text.c_str());
      if (!options.drive) return "not a drive number: " + words[i].text;
    } else if (arg == "--like") {
      options.like = words[++i].text;
    } else if (arg == "--force") {
      options.force = true;
    } else {
      return "unexpected " + arg;
    }
  }
  if (options.like.empty()) return "--like IMAGE is needed";
  if (options.out.empty()) return "the file to save to (OUT) is needed";
  return std::nullopt;
}

// The drive asked for, or the first whose model the image names; nothing after saying why not.
std::optional<int> ChooseDrive(const ofs::TAtapiImp& atapi, const BackupOptions& options, const std::string& model) {
  if (options.drive && *options.drive < atapi.driveCount) return options.drive;
  if (options.drive) {
    std::fprintf(stderr, "ofstool: there is no drive %d (see 'ofstool drives'). Nothing was saved.\n", *options.drive);
    return std::nullopt;
  }
  for (int i = 0; i < atapi.driveCount; ++i) {
    if (atapi.drives[i].identification == model) return i;
  }
  std::fprintf(stderr, "ofstool: no drive is a '%s', the model %s is for; name the drive with --drive N "
                       "(see 'ofstool drives'). Nothing was saved.\n", model.c_str(), options.like.c_str());
  return std::nullopt;
}

// The flash rule for another model: what a person must read before the drive is read over
// IMAGE's layout and flash type; empty when the drive is IMAGE's model and hardware.
std::string DriveModelWarning(ofs::TAtapiImp& atapi, int drive, const ofstool::ParsedContainer& like) {
  const auto d = static_cast<ofs::DriveIndex>(drive);
  // A Philips image names no model, and has no layout to read over either.
  if (like.philips) return {};
  if (ofs::ReadModelName(atapi, d).empty()) return ofs::NoIdentityWarning(drive);
  const auto mismatch = ofs::FindModelMismatch(atapi, d, like.flat.get(), like.imageLength);
  return mismatch ? ofs::ModelWarning(*mismatch) : std::string();
}

}  // namespace

int ofstool::RunBackup(const Words& words) {
  BackupOptions options;
  if (const auto wrong = ParseOptions(words, options)) return Usage(*wrong);
  const std::optional<ParsedContainer> like = LoadContainerFile(options.like);
  if (!like) return kExitNotSaved;
  ofs::LinuxPlatform platform;
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) {
    std::fprintf(stderr, "%s\n", transport.error.c_str());
    return kExitNotSaved;
  }
  ofs::TAtapiImp& atapi = *transport.atapi;
  const std::optional<int> drive =
      ChooseDrive(atapi, options, ofs::GetImageModelName(like->flat.get(), like->imageLength));
  if (!drive) return kExitNotSaved;
  if (const std::string warning = DriveModelWarning(atapi, *drive, *like); !warning.empty()) {
    std::fprintf(stderr, "%s\n", warning.c_str());
    if (!options.force) {
      std::fprintf(stderr, "ofstool: not saved: the drive would be read over the layout and flash type of %s's "
                           "model, and rolling the backup back would use them; add --force to read it anyway. "
                           "Nothing was saved.\n", options.like.c_str());
      return kExitUsage;
    }
  }
  std::printf("Reading drive %d (%s) over the layout of %s\n", *drive,
              ofs::ShownName(atapi.drives[*drive].devicePath).c_str(), ofs::ShownName(options.like).c_str());
  std::fflush(stdout);
  ConsoleOptions console;
  console.progressLine = isatty(STDOUT_FILENO) != 0;
  ConsoleView view(console, stdout, stderr, nullptr);
  const BackupRequest request{static_cast<ofs::DriveIndex>(*drive), like->parameter,
                              static_cast<uint32_t>(like->imageLength), like->philips, options.out};
  const BackupOutcome outcome = BackUpDrive(request, atapi, view);
  std::fprintf(outcome.saved ? stdout : stderr, "%s\n", outcome.text.c_str());
  return outcome.saved ? kExitSaved : kExitNotSaved;
}
