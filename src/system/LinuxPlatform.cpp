#include "system/LinuxPlatform.h"

#include <systemd/sd-bus.h>

#include "system/InstanceGuard.h"

namespace ofs {

LinuxPlatform::LinuxPlatform(std::function<void()> onActivationRequest)
    : onActivationRequest_(std::move(onActivationRequest)) {}

LinuxPlatform::~LinuxPlatform() = default;

bool LinuxPlatform::EnsureSingleInstance(const std::string& title) {
  if (guard_) return true;
  const InstancePaths paths = InstancePathsFor(title);
  switch (InstanceGuard::Acquire(paths, onActivationRequest_, guard_)) {
    case InstanceGuard::Outcome::HeldElsewhere:
      // Whether or not the other instance answers, this one must not run.
      InstanceGuard::RequestActivation(paths);
      return false;
    case InstanceGuard::Outcome::Acquired:
    case InstanceGuard::Outcome::Unavailable:
      break;
  }
  return true;
}

// The login manager decides (asking the user for authorisation where its
// policy wants it); without a system bus or login manager nothing happens.
void LinuxPlatform::RestartSystem() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                     "Reboot", &error, nullptr, "b", 1);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
}

}  // namespace ofs
