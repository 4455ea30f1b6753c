#pragma once
// Entry point of the SG_IO back end for the transport factory; keeps the kernel's
// SG_IO declarations inside this folder.
#include <memory>
#include <string>

#include "drive/TransportBackend.h"

namespace ofs {

// The CD/DVD drives of this machine through /sys and /dev.
std::unique_ptr<TransportBackend> MakeSgioBackend();

// Why the back end found no drive it could open: none in sysfs, or drives this
// user may not open (and what to do about it).
std::string ExplainNoSgioDrive(const std::string& sysfsRoot = "/sys");

}  // namespace ofs
