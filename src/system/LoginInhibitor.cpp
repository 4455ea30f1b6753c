#include "system/LoginInhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include "system/InhibitRequest.h"

namespace ofs {
namespace {
// A login manager that does not answer within this time is treated as absent.
constexpr uint64_t kInhibitTimeoutUs = 3'000'000;

// The lock's descriptor, ours to close; -1 when no login manager gave one.
int TakeLock() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return -1;
  sd_bus_set_method_call_timeout(bus, kInhibitTimeoutUs);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int lock = -1;
  int received = -1;
  if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                         "Inhibit", &error, &reply, "ssss", kInhibitWhat, kInhibitWho, kInhibitWhy,
                         kInhibitMode) >= 0 &&
      sd_bus_message_read(reply, "h", &received) >= 0) {
    // The reply owns the descriptor it carries and closes it with the reply.
    lock = fcntl(received, F_DUPFD_CLOEXEC, 3);
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  // The lock outlives the connection: the login manager watches the descriptor.
  sd_bus_flush_close_unref(bus);
  return lock;
}

}  // namespace

LoginInhibitor::LoginInhibitor(const char* program, std::FILE* notices) : lock_(TakeLock()) {
  if (lock_ < 0 && notices != nullptr) std::fprintf(notices, "%s: %s\n", program, kNoLoginManagerNotice);
}

LoginInhibitor::~LoginInhibitor() {
  if (lock_ >= 0) close(lock_);
}

}  // namespace ofs
