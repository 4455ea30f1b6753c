#pragma once
// Entry points of the simulated drive for the transport factory.
#include <memory>
#include <string>

#include "drive/Clock.h"
#include "drive/TransportBackend.h"

namespace ofs {

struct SimProfile;  // one or more simulated drives, read from a profile text

struct SimProfileResult {
  std::shared_ptr<const SimProfile> profile;  // null on error
  bool virtualClock = false;                  // the profile asks for virtual time
  std::string error;                          // why the profile could not be read
};

// selector is OFSFLASH_SIMULATE's value: "" or "1" = built-in demo on the real clock,
// "fast" = the same demo on the virtual clock, anything else = path of a profile file.
SimProfileResult LoadSimProfile(const std::string& selector);

std::unique_ptr<TransportBackend> MakeSimBackend(std::shared_ptr<const SimProfile> profile, Clock& clock);

}  // namespace ofs
