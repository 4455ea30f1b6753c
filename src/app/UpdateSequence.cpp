// The Start button: version question, the 95/98/ME restart path, tray, lock,
// flash, verification, the refreshed drive line and the restart question.

#include <cstdio>
#include <string>
#include <vector>

#include "app/DriveLines.h"
#include "app/Mainflash.h"
#include "app/RecoveryAdvice.h"
#include "app/RunRecorder.h"
#include "app/VersionNumber.h"
#include "drive/BridgeNote.h"
#include "drive/IdentityText.h"
#include "firmware/Firmware.h"
#include "flash/FlashProcedures.h"
#include "flash/SendPlan.h"
#include "flash/TrayPrompt.h"
#include "flash/Verify.h"
#include "system/Autoinsertnotification.h"

namespace ofs {
namespace {

constexpr int kUnlockAttempts = 3;
constexpr char kUpdaterFailure[] = "Flash Fail!";
constexpr char kTrayLineEnd[] = " without any media inside !";
constexpr char kRebootBeforeUpdate[] =
    "Because of the distinction of Windows 95/98/ME operating system, it is necessary to reboot before "
    "updating. After rebooting, execute again to complete the updating process.\nAre you sure to continue?";

// Sees every command of the sequence before it goes out, until the sequence ends on any way out.
struct CommandWatch {
  TAtapiImp& atapi;
  std::optional<WritePhaseMark>& writePhase;
  ~CommandWatch() {
    atapi.beforeCommand = nullptr;
    writePhase.reset();
  }
};

// Why the path to the drive cannot carry this image's commands, or nothing.
std::string PathRefusal(const TAtapiImp& atapi, EDriveIndex d, uint8_t flashType, bool philipsImage) {
  for (uint8_t opcode : FlashOpcodes(flashType, philipsImage)) {
    if (atapi.CanSend(d, opcode)) continue;
    char code[4];
    std::snprintf(code, sizeof code, "%02X", opcode);
    return "Drive " + std::to_string(d) + " is reached through " + ShownName(atapi.drives[d].devicePath) +
           ", where the kernel lets only root send the commands that carry this firmware (opcode " + code +
           "h). Nothing was sent to the drive.\n\n"
           "Flashing needs the drive's SCSI generic node /dev/sg*, opened read-write. Any of these gives it:\n"
           "- seat access: the drives of the seat of your desktop session, which the system grants to you;\n"
           "- group cdrom: sudo usermod -aG cdrom $USER, then log in again;\n"
           "- the SCSI generic driver, when there is no /dev/sg* node: sudo modprobe sg.\n"
           "See \"Running without root\" in the README.";
  }
  return {};
}

}  // namespace

void TMainForm::BitBtn2Click() {
  lastUpdate = UpdateOutcome::Failed;
  standingRefusal = StandingRefusal::None;
  SelectErrorMessages(errorMessages, silent);
  if (!philipsImage && imageParameter.AtapiFlashType == 0) {
    standingRefusal = StandingRefusal::Image;
    if (!silent) ShowError("Flash Type is not supported!");
    return;
  }
  // Start is enabled only after a discovery that selected a drive; without one there is nothing to do.
  const auto entry = SelectedDriveEntry();
  if (!entry || !imageBuffer) return;

  s_.view.SetEnabled(Control::Window, false);
  s_.view.ClearLines();
  s_.view.SetProgress(0);
  for (Control c : {Control::BitBtn1, Control::BitBtn2, Control::BitBtn4}) s_.view.SetEnabled(c, false);

  const EDriveIndex d = driveList[*entry];
  // Decided on the image alone, before any command: the procedure must carry all of it.
  if (const auto refusal = WholeImageRefusal(MakeFlashContext(), philipsImage)) {
    standingRefusal = StandingRefusal::Image;
    ShowFailure(refusal->box, refusal->detail);
    return EndUnwritten();
  }
  if (const std::string refusal = TransferLimitRefusal(d); !refusal.empty()) {
    ShowError(refusal);
    return EndUnwritten();
  }
  if (const std::string refusal = PowerRefusal(); !refusal.empty()) {
    ShowError(refusal);
    if (onPowerRefusal && !dryRun) onPowerRefusal();
    return EndUnwritten();
  }
  if (const std::string refusal = PathRefusal(s_.atapi, d, imageParameter.AtapiFlashType, philipsImage);
      !refusal.empty()) {
    ShowFailure(refusal);
    return EndUnwritten();
  }
  if (const std::string busy = s_.atapi.ClaimDrive(d); !busy.empty()) {
    ShowFailure(busy);
    return ReenableControls();
  }
  const DriveRelease release{*this};
  WatchCommands();
  const CommandWatch watch{s_.atapi, writePhase_};
  // ofstool has shown this line with its own question.
  if (const std::string note = UsbBridgeNote(s_.atapi, d); !writeWarningsAccepted && !silent && !note.empty()) {
    s_.view.PostStatusLine(note);
  }
  if (!writeWarningsAccepted && !ConfirmModel(d)) return EndCancelled();
  if (!ConfirmVersion(d)) return EndCancelled();

  std::optional<std::string> identity;
  if (!s_.atapi.useSpti) {
    identity = ReadModelName(s_.atapi, d) + ReadFirmwareVersion(s_.atapi, d);
    if (ReadAutoInsertNotification(s_.settings, *identity) == 1) return RestartInsteadOfFlashing(*identity);
  }
  if (!VerifiableAfterFlash(d)) {
    standingRefusal = StandingRefusal::Verification;
    return EndUnwritten();
  }
  if (dryRun) {
    lastUpdate = UpdateOutcome::DryRun;
    return ReenableControls();
  }
  if (noDisc && !philipsImage && !BringTrayToReady(d, "Updating will not be executed until the tray is closed")) {
    return EndCancelled();
  }
  if (!FlashAndVerify(d)) return ReenableControls();

  s_.view.SetProgress(0);
  if (!silent) {
    s_.view.Pump();
    s_.view.AddLine("All Completed!");
    s_.view.ClearLineSelection();
  }
  if (!RefreshDriveLine(d)) return ReenableControls();
  GiveBackDrive();
  FinishUpdate(identity);
  // Only a drive that still identifies itself after flashing counts as updated: one that
  // cannot report its model or version may be stuck in its boot code.
  lastUpdate = UpdateOutcome::Completed;
  mayHoldIncompleteFirmware = false;
  ReenableControls();
}

// A question answered with Cancel ends the sequence before anything was written.
void TMainForm::EndUnwritten() {
  if (!silent && unwrittenLine) s_.view.PostStatusLine("Nothing was written to the drive.");
  ReenableControls();
}

void TMainForm::EndCancelled() {
  lastUpdate = UpdateOutcome::Cancelled;
  EndUnwritten();
}

// The updater shows one text for every failure of the update; the list keeps what it was.
void TMainForm::ShowFailure(const std::string& text, const std::string& detail) {
  ShowError(updaterMode ? kUpdaterFailure : text);
  if (silent) return;
  if (updaterMode) s_.view.PostLongLine(text);
  if (!detail.empty() && !(updaterMode && detail == text)) s_.view.PostLongLine(detail);
}

void TMainForm::ReenableControls() {
  for (Control c : {Control::BitBtn1, Control::BitBtn2, Control::BitBtn4, Control::Window}) {
    s_.view.SetEnabled(c, true);
  }
}

std::string TMainForm::NewerFirmwareQuestion(EDriveIndex d) {
  const std::string driveVersion = ReadFirmwareVersion(s_.atapi, d);
  const std::string imageVersion =
      GetImageFirmwareVersion(imageBuffer.get(), imageLength, imageParameter.AtapiFlashType);
  if (VersionNumber(driveVersion) <= VersionNumber(imageVersion)) return {};
  return ShownIdentity(driveVersion + " is newer than " + imageVersion) + " !! Update the drive ?";
}

bool TMainForm::ConfirmVersion(EDriveIndex d) {
  const std::string question = NewerFirmwareQuestion(d);
  return question.empty() || s_.view.AskOkCancel(question, "Warning!");
}

void TMainForm::RestartInsteadOfFlashing(const std::string& identity) {
  ReenableControls();
  if (!s_.view.AskOkCancel(kRebootBeforeUpdate, "Check")) return;
  WriteAutoInsertNotification(s_.settings, identity, 0);
  s_.platform.RestartSystem();
}

FlashContext TMainForm::MakeFlashContext() {
  return FlashContext{s_.atapi,      s_.view,    imageBuffer.get(), imageLength, imageParameter,
                      imageChecksum, senseData, silent,            updaterMode};
}

bool TMainForm::BringTrayToReady(EDriveIndex d, const char* firstLine) {
  s_.view.Pump();
  s_.view.AddLine(firstLine);
  s_.view.AddLine(kTrayLineEnd);
  FlashContext ctx = MakeFlashContext();
  return EnsureTrayEmptyAndClosed(ctx, d);
}

bool TMainForm::FlashAndVerify(EDriveIndex d) {
  const int writesBefore = s_.atapi.writesReached;
  LockTray(d);
  s_.view.Pump();
  s_.view.ClearLines();

  FlashContext ctx = MakeFlashContext();
  FlashResult failure;
  if (philipsImage) {
    const uint32_t blockCount = PhilipsBlockCount(imageLength);
    s_.view.Pump();
    s_.view.PostStatusLine("Please wait for at least one minute!");
    failure = FlashPhilipsImage(ctx, d, blockCount, imageParameter.HeaderCheckSum, imageParameter.TrailerWord);
    s_.view.Pump();
    s_.view.SetProgress(kProgressMax);
  } else {
    if (!silent) s_.view.PostStatusLine("Updating");
    failure = FlashByType(ctx, d);
  }
  AllowRemoval(d);
  EndWritePhase(!failure);
  if (failure) {
    GiveBackDrive();
    const std::string text = updaterMode ? kUpdaterFailure : *failure;
    const std::string shown = text.substr(0, text.find_last_not_of('\n') + 1);
    const std::string detail = failure->substr(0, failure->find_last_not_of('\n') + 1);
    const bool reached = s_.atapi.writesReached > writesBefore;
    mayHoldIncompleteFirmware = mayHoldIncompleteFirmware || reached;
    // Pressing Start again is the way back, unless the history shows it already failed alike.
    std::vector<std::string> advice;
    if (reached && startAgainAdvice)
      advice = StartAgainLines(failedAlikeBefore && failedAlikeBefore(RunResultOf(shown)));
    ShowError(advice.empty() ? text : shown + "\n\n" + JoinedLines(advice));
    // The list ends with what went wrong and, once the drive was written, the way back.
    if (!silent) {
      s_.view.PostLongLine(detail);
      for (const std::string& line : advice) s_.view.PostLongLine(line);
    }
    if (reached) s_.view.SetProgress(0);
    return false;
  }
  if (!silent) {
    s_.view.Pump();
    s_.view.PostStatusLine("Flashing finished !");
  }
  if (philipsImage || !verify) return true;

  if (noDisc) {
    s_.view.ClearLineSelection();
    if (!BringTrayToReady(d, "Verifying will not be executed until the tray is closed")) return false;
  }
  LockTray(d);
  const FlashResult unverified = VerifyFlash(ctx, d);
  verified_ = !unverified;  // before the unlock, where a stop signal may end the sequence
  AllowRemoval(d);
  if (unverified) {
    GiveBackDrive();
    ShowError(*unverified);
  }
  return verified_;
}

// Asked before anything is written: a flash that cannot be verified as asked is not started.
bool TMainForm::VerifiableAfterFlash(EDriveIndex d) {
  if (philipsImage || !verify) return true;
  FlashContext ctx = MakeFlashContext();
  const FlashResult refusal = CheckVerifiable(ctx, d);
  if (refusal) ShowFailure(*refusal);
  return !refusal;
}

// Unlocked first: once given back, the drive may be another flasher's.
TMainForm::DriveRelease::~DriveRelease() {
  try {
    if (form.lockedDrive_) form.AllowRemoval(*form.lockedDrive_);
  } catch (...) {
    // On the way out of an exception there is nothing left to try.
  }
  form.s_.atapi.ReleaseDrive();
}

void TMainForm::LockTray(EDriveIndex d) {
  lockedDrive_ = d;
  PreventMediumRemoval(s_.atapi, d, 1);
}

// A drive that refuses the unlock once must not stay locked: ask again. The lock is
// forgotten only once asked for, so a sequence stopped on its way here unlocks on its way out.
void TMainForm::AllowRemoval(EDriveIndex d) {
  for (int attempt = 0; attempt < kUnlockAttempts; ++attempt) {
    if (PreventMediumRemoval(s_.atapi, d, 0)) break;
  }
  lockedDrive_.reset();
}

// Once the sequence has no command left for the drive, another program may have it
// while this one shows what came of the update and asks its closing questions.
void TMainForm::GiveBackDrive() {
  if (lockedDrive_) AllowRemoval(*lockedDrive_);
  s_.atapi.ReleaseDrive();
}

std::string TMainForm::ReadDriveLine(EDriveIndex d, std::string& failure) {
  const std::string model = ReadModelName(s_.atapi, d);
  if (model.empty()) {
    failure = "Get Drive ModelName Error!";
    return {};
  }
  const std::string version = ReadFirmwareVersion(s_.atapi, d);
  if (version.empty()) {
    failure = "Get Drive Version Error!";
    return {};
  }
  std::string extension;
  if (!updaterMode && !IsPioneerModel(model)) {
    extension = ReadInquiryExtension(s_.atapi, d);
    if (extension.empty()) {
      failure = "Get Drive DateCode Error!";
      return {};
    }
  }
  return DriveLineOf(model, version, extension);
}

bool TMainForm::RefreshDriveLine(EDriveIndex d) {
  std::string failure;
  const std::string line = ReadDriveLine(d, failure);
  if (line.empty()) {
    GiveBackDrive();
    ShowError(failure);
    return false;
  }
  ShowDriveLine(line);
  return true;
}

void TMainForm::ShowDriveLine(const std::string& line) {
  driveLineAfterWriting = line;
  const int item = s_.view.SelectedDriveItem();
  s_.view.SetDriveText(item, line);
  s_.view.SelectDriveItem(item);
  s_.view.SetStatusText(line.substr(0, kStatusWidth));
}

void TMainForm::FinishUpdate(const std::optional<std::string>& identity) {
  if (StopAfterWriting()) return;
  if (identity) {
    s_.view.Pump();
    // The identity read before flashing names the device key the setting was read from.
    if (s_.view.AskOkCancel("Would you like to activate the auto-insert notification ?", "Check")) {
      WriteAutoInsertNotification(s_.settings, *identity, 1);
    }
  }
  s_.view.Pump();
  if (s_.view.AskOkCancel(kRestartQuestion, "Check")) {
    s_.platform.RestartSystem();
  }
}

}  // namespace ofs
