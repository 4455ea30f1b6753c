#pragma once
// Entry point of the SG_IO back end for the transport factory; keeps the kernel's
// SG_IO declarations inside this folder.
#include <memory>

#include "drive/TransportBackend.h"

namespace ofs {

// The CD/DVD drives of this machine through /sys and /dev.
std::unique_ptr<TransportBackend> MakeSgioBackend();

}  // namespace ofs
