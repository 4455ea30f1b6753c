#include "system/PowerState.h"

#include <systemd/sd-bus.h>

namespace ofs {
namespace {
// A service that does not answer within this time is treated as absent.
constexpr uint64_t kAnswerTimeoutUs = 3'000'000;

template <typename T>
bool ReadProperty(sd_bus* bus, const char* service, const char* path, const char* interface, const char* name,
                  char type, T& value) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const int r = sd_bus_get_property_trivial(bus, service, path, interface, name, &error, type, &value);
  sd_bus_error_free(&error);
  return r >= 0;
}

}  // namespace

PowerReading ReadSystemPower() {
  PowerReading reading;
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return reading;
  sd_bus_set_method_call_timeout(bus, kAnswerTimeoutUs);
  int onBattery = 0;
  reading.upowerAnswered = ReadProperty(bus, "org.freedesktop.UPower", "/org/freedesktop/UPower",
                                        "org.freedesktop.UPower", "OnBattery", 'b', onBattery);
  reading.onBattery = onBattery != 0;
  if (reading.onBattery) {
    ReadProperty(bus, "org.freedesktop.UPower", "/org/freedesktop/UPower/devices/DisplayDevice",
                 "org.freedesktop.UPower.Device", "Percentage", 'd', reading.percentage);
  }
  int shutdown = 0;
  int sleep = 0;
  constexpr char kLogin[] = "org.freedesktop.login1";
  constexpr char kLoginPath[] = "/org/freedesktop/login1";
  constexpr char kManager[] = "org.freedesktop.login1.Manager";
  reading.loginManagerAnswered = ReadProperty(bus, kLogin, kLoginPath, kManager, "PreparingForShutdown", 'b', shutdown);
  if (reading.loginManagerAnswered) ReadProperty(bus, kLogin, kLoginPath, kManager, "PreparingForSleep", 'b', sleep);
  reading.preparingForShutdown = shutdown != 0;
  reading.preparingForSleep = sleep != 0;
  sd_bus_flush_close_unref(bus);
  return reading;
}

}  // namespace ofs
