#pragma once
#include "flash/FlashContext.h"

namespace ofs {

// Brings the tray to closed and empty, asking the user where the drive cannot
// do it alone; false when the user cancels.
bool EnsureTrayEmptyAndClosed(FlashContext& ctx, DriveIndex drive);

}  // namespace ofs
