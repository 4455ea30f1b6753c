// The power a flash runs on, asked once before the first command: a laptop that
// dies or a system that powers off midway leaves the drive without working firmware.
#include <cstdio>
#include <string>

#include "app/Mainflash.h"

namespace ofs {
namespace {

constexpr double kLowestCharge = 10;  // percent, on battery
constexpr char kMidwayLoss[] =
    "A power loss in the middle of a flash leaves the drive without working firmware.";

}  // namespace

std::string TMainForm::PowerRefusal() {
  const PowerReading power = s_.platform.ReadPower();
  if (!power.loginManagerAnswered) s_.atapi.Note("power: no login manager on the system bus to ask about shutdown");
  if (!power.upowerAnswered) s_.atapi.Note("power: no UPower on the system bus; the battery is not looked at");
  if (power.preparingForShutdown || power.preparingForSleep) {
    return std::string("The system is preparing to ") + (power.preparingForShutdown ? "shut down" : "sleep") +
           ", so the update will not start. " + kMidwayLoss + "\n\nStart the update again once the system is up.";
  }
  if (!power.upowerAnswered || !power.onBattery || power.percentage >= kLowestCharge) return {};
  if (ignorePower) {
    s_.atapi.Note("power: on battery below the threshold, flashing as told (--ignore-power)");
    return {};
  }
  char charge[16];
  std::snprintf(charge, sizeof charge, "%.3g%%", power.percentage);
  return std::string("The system runs on battery with ") + charge + " charge left, less than the 10% an update needs. " +
         kMidwayLoss +
         "\n\nPlug in the charger and start again; or, knowing the risk, run ofstool flash with --ignore-power.";
}

}  // namespace ofs
