// The update sequence against a process told to stop: before the first write a stop
// signal ends it at once with nothing written; from the first write until the
// procedure has ended it is held; afterwards it ends the sequence at once again.
#include "app/Mainflash.h"

namespace ofs {

void TMainForm::WatchCommands() {
  writesBegun_ = false;
  writesBefore_ = s_.atapi.writesReached;
  driveDisappeared = false;
  flashEnded_ = false;
  verified_ = false;
  stopping_ = false;
  heldSignal = 0;
  driveLineAfterWriting.reset();
  s_.atapi.beforeCommand = [this](bool writes) { BeforeCommand(writes); };
}

void TMainForm::BeforeCommand(bool writes) {
  if (s_.atapi.DriveGone() && !driveDisappeared) throw DriveVanished{};
  if (writePhase_ || stopping_) return;
  const int signal = CaughtStopSignal();
  // One held for another drive's write phase lets this drive be written too: the
  // drives of one run were confirmed and started together.
  if (signal != 0 && (writesBegun_ || !StopSignalHeld())) {
    stopping_ = true;
    throw StopRequested{};
  }
  if (!writes || writesBegun_) return;
  writesBegun_ = true;
  writePhase_.emplace();
  if (onWritePhaseBegins) onWritePhaseBegins();
}

void TMainForm::EndWritePhase(bool flashEnded) {
  flashEnded_ = flashEnded;
  if (!writePhase_) return;
  writePhase_.reset();
  if (StopSignalHeld()) heldSignal = CaughtStopSignal();
}

// The questions after the flash are skipped once a stop signal has come.
bool TMainForm::StopAfterWriting() const { return writesBegun_ && CaughtStopSignal() != 0; }

void TMainForm::EndStopped() {
  if (!writesBegun_) {
    lastUpdate = UpdateOutcome::Failed;
    return EndUnwritten();
  }
  // The flash had ended when the signal came: what is left is reading and asking, but a
  // verification that was asked for and skipped is not claimed.
  const bool unverified = verify && !philipsImage && !verified_;
  lastUpdate = !flashEnded_ ? UpdateOutcome::Failed
               : unverified ? UpdateOutcome::FlashedNotVerified
                            : UpdateOutcome::Completed;
  // A read changes nothing: the list and the run's record name what the drive holds now.
  const auto entry = SelectedDriveEntry();
  std::string unread;
  const std::string line = flashEnded_ && entry ? ReadDriveLine(driveList[*entry], unread) : std::string();
  if (!line.empty()) ShowDriveLine(line);
  s_.view.PostLongLine("Stopped on " + StopName(CaughtStopSignal()) +
                         " after the flash had ended; what was left of the update was skipped.");
  if (lastUpdate == UpdateOutcome::FlashedNotVerified) s_.view.PostStatusLine(kFlashedNotVerifiedLine);
  ReenableControls();
}

}  // namespace ofs
