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
  std::unique_ptr<CommandTrace> trace;
  if (const char* tracePath = std::getenv("OFSFLASH_TRACE"); tracePath != nullptr && *tracePath != '\0') {
    trace = CommandTrace::Open(tracePath);
  }
  transport.atapi =
      std::make_unique<TAtapiImp>(std::move(backend), *transport.clock, platform.IsNtPlatform(), std::move(trace));
  return transport;
}

}  // namespace ofs
