// The creation handler: single instance, parameter block, options, menus,
// caption, then the updater or the flash-utility way of filling the window.
#include <cstring>

#include "app/DriveLines.h"
#include "app/Mainflash.h"
#include "firmware/EmbeddedImage.h"
#include "firmware/Ofs.h"

namespace ofs {
namespace {

constexpr char kUpdaterCorrupt[] = "Updater is corrupt !";

constexpr const char* kNotice[] = {
    "Important Notice:",
    "You must have the Administrator privilege",
    " to execute this utility.",
    "Do not restart or shutdown your system",
    " until it prompts you to do so.",
    "Violating the aformentioned may damage",
    " your drive!",
};

}  // namespace

void TMainForm::FormCreate() {
  if (!s_.platform.EnsureSingleInstance(kApplicationTitle)) {
    startupFailed = true;
    s_.view.RequestTermination();
    return;
  }
  scratchBuffer = std::make_unique<uint8_t[]>(256);
  SelectErrorMessages(errorMessages, false);

  SParameter parameter;
  ReadParameterBlock(s_.areas.parameter, parameter);
  ApplyOptions(parameter);
  ApplyMenus(parameter);
  modelNameTable = parameter.AvailableModelNames;

  updaterMode = parameter.Main.Updater;
  if (updaterMode) {
    s_.view.SetVisible(Control::Panel2, false);
  } else {
    s_.view.SetVerifyChecked(false);
    verify = false;
  }
  ApplyCaption(parameter.Main);
  s_.view.SetEnabled(Control::SelDevice, false);
  s_.view.SetEnabled(Control::BitBtn2, false);

  if (updaterMode) {
    if (auto corrupt = LoadEmbeddedImages()) return EndStartup(*corrupt, false);
    if (auto message = DiscoverDrives()) return EndStartup(*message, true);
    if (auto message = MatchFirmware()) return EndStartup(*message, true);
    s_.view.SetEnabled(Control::BitBtn2, true);
  } else if (!ListEveryDrive()) {
    // The written first line, then why and what to do, where the transport can tell.
    const std::string why = s_.atapi.WhyNoDrive();
    return EndStartup("No Drive found !" + (why.empty() ? std::string() : "\n\n" + why), true);
  }
  PostNotice();
}

void TMainForm::EndStartup(const std::string& message, bool terminate) {
  startupFailed = true;
  ShowError(message);
  if (terminate) s_.view.RequestTermination();
}

void TMainForm::ApplyOptions(const SParameter& parameter) {
  const SOtherSettings& other = parameter.OtherSettings;
  checkSumTest = other.CheckSum;
  hardwareIdTest = other.HardwareID;
  modelNameTest = other.ModelName;
  availableModelTest = other.AvailableModel;
  silent = parameter.ArgumentDefault.s;
  noDisc = other.NoDisc;
  verify = other.Verify;
  overwriteReservedBlocks = parameter.ArgumentDefault.k;
  eraseUnusedBlocks = !parameter.ArgumentDefault.u;
  if (other.Verify) s_.view.SetVerifyChecked(true);
}

void TMainForm::ApplyMenus(const SParameter& parameter) {
  const SArgumentEnabled& on = parameter.ArgumentEnabled;
  const SArgumentDefault& def = parameter.ArgumentDefault;
  const std::pair<MenuItem, bool> visibility[] = {
      {MenuItem::Silent1, on.s},
      {MenuItem::CheckOFSFile1, on.c},
      {MenuItem::CheckOFSBuffer1, on.b},
      {MenuItem::Help1, on.h},
      {MenuItem::VersionInformation1, on.v},
      {MenuItem::EraseFlashROM1, on.e},
      {MenuItem::Drive1, on.n},
      {MenuItem::OverwriteReservedBlocks1, on.k},
      {MenuItem::KeepUnusedBlocks1, on.u},
      {MenuItem::OutputDefaultParameterFile1, on.p},
      {MenuItem::OutputParameterBuffer1, on.m},
      {MenuItem::OutputOFSBuffer1, on.o},
      {MenuItem::GetFixDataCheckSum1, on.f},
      {MenuItem::GetTestParameterFile1, on.t},
      {MenuItem::IgnoreAskingQuestions1, on.y},
      {MenuItem::Disable98MEAutoDetectDrive1, on.Disable98AutoInsertNotification},
  };
  for (const auto& [item, visible] : visibility) s_.view.SetMenuVisible(item, visible);

  const std::pair<MenuItem, bool> checks[] = {
      {MenuItem::Silent1, def.s},
      {MenuItem::OverwriteReservedBlocks1, def.k},
      {MenuItem::KeepUnusedBlocks1, def.u},
      {MenuItem::IgnoreAskingQuestions1, def.y},
      {MenuItem::Disable98MEAutoDetectDrive1, def.Disable98AutoInsertNotification},
  };
  for (const auto& [item, checked] : checks) s_.view.SetMenuChecked(item, checked);
  defaultDriveIndex = def.n;
}

void TMainForm::ApplyCaption(const SMainParameter& main) {
  std::string caption;
  if (main.ShowCaption) {
    caption = main.ProgramName + " ";
    if (main.ShowVersion) caption += std::string(kProgramVersion) + " ";
    if (main.ShowDate) caption += kProgramDate;
  }
  s_.view.SetCaption(caption);
}

std::optional<std::string> TMainForm::LoadEmbeddedImages() {
  const std::span<const uint8_t> cvt = s_.areas.cvt;
  if (IsPhilipsImage(cvt.data(), cvt.size())) {
    EmbeddedImage image = ReadEmbeddedImage(cvt, true);
    if (!image.problem.empty()) return kUpdaterCorrupt;
    philipsImage = true;
    imageParameter = std::move(image.parameter);
    imageBuffer = std::move(image.flat);
    imageLength = image.flatLength;
    return std::nullopt;
  }

  for (int i = 0; i < 3; ++i) {
    EmbeddedImage image = ReadEmbeddedImage(s_.areas.ofs3[i], false);
    bufferLoaded[i] = image.problem.empty();
    if (!bufferLoaded[i]) continue;
    bufferParameter[i] = std::move(image.parameter);
    bufferImage[i] = std::move(image.flat);
    bufferImageLength[i] = image.flatLength;
    ++bufferImageCount;
  }
  if (CandidateCount() == 0) return kUpdaterCorrupt;
  if (bufferImageCount == 1) AdoptFirstCandidate();
  return std::nullopt;
}

bool TMainForm::ListEveryDrive() {
  if (s_.atapi.driveCount <= 0) return false;
  for (int d = 0; d < s_.atapi.driveCount; ++d) {
    if (!Reaches(d)) continue;
    s_.view.AddDrive(BuildDriveLine(s_.atapi, static_cast<DriveIndex>(d), true));
  }
  s_.view.SelectDriveItem(0);
  s_.view.SetStatusText(s_.view.DriveText(0).substr(0, kStatusWidth));
  s_.view.SetEnabled(Control::SelDevice, true);
  return true;
}

void TMainForm::PostNotice() {
  if (silent) return;
  for (const char* line : kNotice) s_.view.AddLine(line);
}

}  // namespace ofs
