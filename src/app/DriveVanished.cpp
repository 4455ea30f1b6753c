// A drive that leaves the system during the update (unplugged, or reset off its
// bus): the sequence ends at once with what the person must know, instead of
// waiting out every time limit against a node that is gone.
#include "app/Mainflash.h"

namespace ofs {

void TMainForm::EndVanished() {
  driveDisappeared = true;
  lockedDrive_.reset();  // its lock went with it; an unlock could reach nothing
  lastUpdate = UpdateOutcome::Failed;
  const std::string drive = "Drive " + std::to_string(s_.atapi.currentDrive) + " (" +
                            s_.atapi.drives[s_.atapi.currentDrive].devicePath + ")";
  // A write the kernel refused for want of the drive did not reach it.
  if (s_.atapi.writesReached == writesBefore_) {
    ShowError(drive + " disappeared (unplugged, or reset by its bus) before anything was written to it.\n\n"
                      "Reconnect it and look for it in the drive list again.");
    return EndUnwritten();
  }
  mayHoldIncompleteFirmware = true;
  ShowError(drive + " disappeared (unplugged, or reset by its bus) after writing had begun: it may hold "
                    "incomplete firmware.\n\nDo not power it off if it is still connected. Reconnect it, look for it "
                    "in the drive list again (ofstool drives), then run the same update again.");
  ReenableControls();
}

}  // namespace ofs
