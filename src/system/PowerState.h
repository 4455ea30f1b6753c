#pragma once
// What the system bus says of the power a flash runs on: UPower's battery and
// the login manager's shutdown or sleep under way. A flash that loses power
// midway leaves the drive without working firmware.
#include <string>

namespace ofs {

struct PowerReading {
  bool upowerAnswered = false;  // false: no system bus, or no UPower on it
  bool onBattery = false;
  double percentage = 100;      // the display device's charge
  bool loginManagerAnswered = false;
  bool preparingForShutdown = false;
  bool preparingForSleep = false;
};

// Asks the system bus; what does not answer stays at its harmless default.
PowerReading ReadSystemPower();

}  // namespace ofs
