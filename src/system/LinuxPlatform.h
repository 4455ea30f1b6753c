#pragma once
// The platform services on Linux: NT-family behaviour, a per-user single-instance
// guard with a local socket, and the login manager's reboot request.
#include <functional>
#include <memory>
#include <string>

#include "system/Platform.h"

namespace ofs {

class InstanceGuard;

class LinuxPlatform final : public Platform {
 public:
  // onActivationRequest runs (on a background thread) when a second instance asks
  // this one to come to the front; the window marshals it to its own thread.
  explicit LinuxPlatform(std::function<void()> onActivationRequest = {});
  ~LinuxPlatform() override;

  bool IsNtPlatform() override { return true; }
  bool EnsureSingleInstance(const std::string& title) override;
  void RestartSystem() override;
  PowerReading ReadPower() override { return ReadSystemPower(); }

 private:
  std::function<void()> onActivationRequest_;
  std::unique_ptr<InstanceGuard> guard_;
};

}  // namespace ofs
