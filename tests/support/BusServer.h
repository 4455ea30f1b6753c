#pragma once
// A private D-Bus socket served as a bus would serve one client: the fakes of the
// system's services answer its calls in their filter.
#include <systemd/sd-bus.h>

namespace ofs::test {

// Waits up to limitMs for a client on listenFd, then lets `filter` answer its calls
// until it hangs up or stays quiet for limitMs. False when no client came.
bool ServeOneBusClient(int listenFd, sd_bus_message_handler_t filter, void* userdata, int limitMs);

}  // namespace ofs::test
