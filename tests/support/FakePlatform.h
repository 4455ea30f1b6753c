#pragma once
// A Platform whose answers are set by the test and whose calls are counted,
// so the 95/98/ME paths and a second instance can be played on any machine.
#include <string>

#include "system/Platform.h"

namespace ofs::test {

class FakePlatform : public Platform {
 public:
  // Answers.
  bool isNt = true;
  bool singleInstance = true;
  PowerReading power;

  // Recorded calls.
  int restartRequests = 0;
  int singleInstanceRequests = 0;
  std::string lastTitle;

  bool IsNtPlatform() override;
  bool EnsureSingleInstance(const std::string& title) override;
  void RestartSystem() override;
  PowerReading ReadPower() override { return power; }
};

}  // namespace ofs::test
