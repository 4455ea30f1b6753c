#include "drive/TransportFactory.h"

#include <cstdlib>

#include "drive/CommandTrace.h"
#include "drive/sgio/SgioFactory.h"
#include "drive/sim/SimFactory.h"

namespace ofs {

Transport CreateTransportFromEnvironment(Platform& platform) {
  Transport transport;
  std::unique_ptr<TransportBackend> backend;
  if (const char* simulate = std::getenv("OFSFLASH_SIMULATE")) {
    SimProfileResult loaded = LoadSimProfile(simulate);
    if (!loaded.profile) {
      transport.error = loaded.error;
      return transport;
    }
    transport.clock = loaded.virtualClock ? std::make_unique<VirtualClock>() : MakeRealClock();
    backend = MakeSimBackend(loaded.profile, *transport.clock);
  } else {
    transport.clock = MakeRealClock();
    backend = MakeSgioBackend();
  }
  // A trace asked for and not written would be missed only when the bug report needs it,
  // so it is refused before any drive is reached.
  std::unique_ptr<CommandTrace> trace;
  if (const char* tracePath = std::getenv("OFSFLASH_TRACE"); tracePath != nullptr && *tracePath != '\0') {
    std::string problem;
    trace = CommandTrace::Open(tracePath, &problem);
    if (!trace) {
      transport.error = "cannot write the command trace to '" + std::string(tracePath) + "': " + problem;
      return transport;
    }
  }
  transport.atapi =
      std::make_unique<TAtapiImp>(std::move(backend), *transport.clock, platform.IsNtPlatform(), std::move(trace));
  return transport;
}

}  // namespace ofs
