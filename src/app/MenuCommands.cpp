// The option toggles, the small menu commands and the window's own events.
#include <string>

#include "app/DriveLines.h"
#include "app/Mainflash.h"
#include "drive/IdentityText.h"

namespace ofs {

void TMainForm::Silent1Click() {
  s_.view.ShowPlainMessage(silent ? "Not Silent now" : "Silent now");
  silent = !silent;
}

void TMainForm::KeepUnusedBlocks1Click() {
  s_.view.ShowPlainMessage(eraseUnusedBlocks ? "Not Erase Unused Blocks now" : "Erase Unused Blocks now");
  eraseUnusedBlocks = !eraseUnusedBlocks;
}

void TMainForm::OverwriteReservedBlocks1Click() {
  s_.view.ShowPlainMessage(overwriteReservedBlocks ? "Not Erase Reserved Blocks now" : "Erase Resrved Blocks now");
  overwriteReservedBlocks = !overwriteReservedBlocks;
}

void TMainForm::Drive1Click() {
  if (driveList.empty()) {
    s_.view.ShowPlainMessage("Default Drive Index : " + std::to_string(defaultDriveIndex));
    return;
  }
  if (const auto entry = SelectedDriveEntry()) {
    s_.view.ShowPlainMessage("Selected Drive Index : " + std::to_string(driveList[*entry]));
  }
}

void TMainForm::OutputDefaultParameterFile1Click() {
  const std::string path = s_.view.AskSaveFile(kSaveDialogFilter);
  // A save that works shows nothing; one that fails must not look the same.
  if (path.empty()) return;
  const std::string error = WriteDefaultParameterFile(path);
  if (!error.empty()) ShowError("Cannot write " + ShownName(path) + ": " + error);
}

// The item is shown when the parameter block asks for it, but it has no command.
void TMainForm::EraseFlashROM1Click() {}

void TMainForm::BitBtn4Click() { s_.view.CloseWindow(); }

void TMainForm::FormClose() {
  scratchBuffer.reset();
  imageBuffer.reset();
}

void TMainForm::SelDeviceChange() {
  if (s_.view.DriveItemCount() == 0) return;
  s_.view.SetStatusText(s_.view.DriveText(s_.view.SelectedDriveItem()).substr(0, kStatusWidth));
}

void TMainForm::check_verifyClick(bool checked) { verify = checked; }

}  // namespace ofs
