#pragma once
// The platform of the command line. A terminal takes no single-instance guard:
// that belongs to the window; the drive's hold is what keeps two flashers off
// one drive, so two terminals can flash two drives at once.
#include <string>

#include "system/LinuxPlatform.h"

namespace ofstool {

class ConsolePlatform final : public ofs::Platform {
 public:
  bool IsNtPlatform() override { return system_.IsNtPlatform(); }
  bool EnsureSingleInstance(const std::string&) override { return true; }
  void RestartSystem() override { system_.RestartSystem(); }
  ofs::PowerReading ReadPower() override { return system_.ReadPower(); }

 private:
  ofs::LinuxPlatform system_;
};

}  // namespace ofstool
