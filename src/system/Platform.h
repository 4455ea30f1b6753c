#pragma once
// Operating-system services that the start-up and update flow rely on.
#include <string>

#include "system/PowerState.h"

namespace ofs {

class Platform {
 public:
  virtual ~Platform() = default;
  // False only on the 95/98/ME family, whose update path has the auto-insert steps.
  virtual bool IsNtPlatform() = 0;
  // True when this is the only instance (the guard is now held); false when another
  // instance runs and has been asked to come to the front.
  virtual bool EnsureSingleInstance(const std::string& title) = 0;
  // Asks for a plain (not forced) reboot; the outcome is not looked at.
  virtual void RestartSystem() = 0;
  // What the system says of its power, just before a flash is started.
  virtual PowerReading ReadPower() = 0;
};

}  // namespace ofs
