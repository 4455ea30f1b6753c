#include "support/BusServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cstdint>

namespace ofs::test {

bool ServeOneBusClient(int listenFd, sd_bus_message_handler_t filter, void* userdata, int limitMs) {
  pollfd p{listenFd, POLLIN, 0};
  if (::poll(&p, 1, limitMs) <= 0 || (p.revents & POLLIN) == 0) return false;
  const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  sd_bus* bus = nullptr;
  sd_id128_t id;
  if (sd_bus_new(&bus) < 0 || sd_id128_randomize(&id) < 0 || sd_bus_set_fd(bus, fd, fd) < 0 ||
      sd_bus_set_server(bus, 1, id) < 0 || sd_bus_negotiate_fds(bus, 1) < 0 ||
      sd_bus_add_filter(bus, nullptr, filter, userdata) < 0 || sd_bus_start(bus) < 0) {
    sd_bus_flush_close_unref(bus);
    return true;
  }
  // Until the client hangs up (a lock it was given may outlive that) or goes quiet.
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) break;
    if (r == 0 && sd_bus_wait(bus, uint64_t(limitMs) * 1000) <= 0) break;
  }
  sd_bus_flush_close_unref(bus);
  return true;
}

}  // namespace ofs::test
