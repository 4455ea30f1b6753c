// ofstool backup [--drive N] --like IMAGE OUT: a drive's firmware saved as a container.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

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
    "usage: ofstool backup [--drive N] --like IMAGE OUT\n"
    "Reads the drive's flash over the layout of IMAGE (its banks, slot size and flash type) and saves it\n"
    "as the container OUT, which 'ofstool flash OUT' writes back. Nothing is written to the drive.\n"
    "  --drive N     the drive to read (see 'ofstool drives'); default: the first of IMAGE's model\n"
    "  --like IMAGE  a firmware file for this drive: the backup takes its layout and header\n"
    "OUT must not exist yet. Exit codes: 0 saved; 1 not saved (OUT was not created); 2 usage.\n";

struct BackupOptions {
  std::optional<int> drive;
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
  std::printf("Reading drive %d (%s) over the layout of %s\n", *drive, atapi.drives[*drive].devicePath.c_str(),
              options.like.c_str());
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
