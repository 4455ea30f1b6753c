#include "ofstool/ImageLoading.h"

#include "drive/IdentityText.h"
#include "ofstool/ContainerFile.h"
#include "ofstool/FirmwareFileCheck.h"

namespace ofstool {

DriveChoice LoadImageForDrive(ofs::TMainForm& form, ConsoleView& view, const ofs::TAtapiImp& atapi,
                              const std::string& file, std::optional<int> wanted, const std::string& act,
                              const std::string& nothing) {
  form.FormCreate();
  if (form.startupFailed) return {-1, -1, "ofstool: start-up ended early; " + nothing};
  if (!file.empty()) {
    if (!FirmwareFileUsable(file)) return {-1, -1, "ofstool: " + nothing};
    form.LoadFirmwareFile(file);
  }
  const int item = view.SelectedDriveItem();
  if (!view.IsEnabled(ofs::Control::BitBtn2) || item < 0 || item >= static_cast<int>(form.driveList.size())) {
    if (file.empty() && !form.updaterMode) return {-1, -1, "No firmware file given."};
    // The file is to blame, not the drives, when it is no firmware container at all.
    const std::string notAContainer = file.empty() ? std::string() : NotAContainerLine(file);
    return {-1, -1, notAContainer.empty() ? "ofstool: no drive to " + act + "; " + nothing : notAContainer};
  }
  const int drive = form.driveList[static_cast<std::size_t>(item)];
  if (!wanted || *wanted == drive) return {drive, item, {}};
  const std::string number = std::to_string(*wanted);
  if (*wanted < atapi.driveCount) return {-1, -1, "Drive " + number + " does not fit this firmware."};
  std::string text = "There is no drive " + number + ". The drives are:";
  for (int i = 0; i < atapi.driveCount; ++i) text += "\n  " + std::to_string(i) + "  " + ofs::ShownName(atapi.drives[i].devicePath);
  return {-1, -1, text};
}

}  // namespace ofstool
