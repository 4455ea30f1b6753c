// The path to the drive against the flash's pieces, before the first command: a
// piece the kernel cannot carry in one command fails at its first bank, after the
// write phase has begun (a USB bridge may take 32 KiB or less).
#include <algorithm>
#include <string>

#include "app/Mainflash.h"
#include "flash/SendPlan.h"

namespace ofs {

std::string TMainForm::TransferLimitRefusal(EDriveIndex d) {
  const AtapiDriveEntry& drive = s_.atapi.drives[d];
  if (drive.maxTransfer == 0) return {};
  const SendPlan plan = PlanFor(MakeFlashContext(), philipsImage);
  uint32_t largest = 0;
  for (const ImagePiece& piece : plan.pieces) largest = std::max(largest, piece.length);
  if (largest <= drive.maxTransfer) return {};
  return "Drive " + std::to_string(d) + " is reached through " + drive.devicePath + ", where the kernel carries at most " +
         std::to_string(drive.maxTransfer) + " bytes (" + std::to_string(drive.maxTransfer / 1024) +
         " KiB) in one command, but this firmware is sent in pieces of " + std::to_string(largest) + " bytes (" +
         std::to_string(largest / 1024) +
         " KiB). The first of them would fail in the middle of the update.\n\n"
         "Connect the drive directly (SATA or IDE) rather than through a USB bridge, or through a bridge that "
         "takes larger transfers.";
}

}  // namespace ofs
