#pragma once
// One drive, one flasher: while a drive is flashed, its lock file is locked
// (every user and login session sees it), its block node is held open with
// O_EXCL (udev's CD probe, mounts and disc burners back off) and the kernel's
// media polling of it is off.
#include <string>

#include "drive/TransportBackend.h"
#include "drive/sgio/SgSystem.h"

namespace ofs {

struct HeldDriveNodes {
  int index = 0;
  std::string path;    // the node commands go through, for the texts
  std::string sgName;  // "sg1", or empty
  std::string srName;  // "sr0", or empty
};

HoldResult HoldSgDrive(SgSystem& system, const SgioPaths& paths, const HeldDriveNodes& drive, const TraceNote& note);

}  // namespace ofs
