#pragma once
// Builds the transport from the environment: OFSFLASH_SIMULATE selects the
// simulated drives (and their clock), OFSFLASH_TRACE a command trace file.
#include <memory>

#include "drive/AtapiImp.h"
#include "drive/Clock.h"
#include "system/Platform.h"

namespace ofs {

struct Transport {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<TAtapiImp> atapi;
  std::string error;  // non-empty when a simulation profile or the trace file could not be opened
};

Transport CreateTransportFromEnvironment(Platform& platform);

}  // namespace ofs
