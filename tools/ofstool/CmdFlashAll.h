#pragma once
// ofstool flash --all, with the options ofstool flash has read.
#include <optional>
#include <string>

#include "ofstool/ConsoleView.h"

namespace ofstool {

struct FlashAllRequest {
  ConsoleOptions console;  // answers and reboot as given
  std::optional<bool> verify;
  bool yes = false;
  bool force = false;
  bool json = false;
  bool ignorePower = false;
  std::string file;
};

int RunFlashAll(FlashAllRequest request);

}  // namespace ofstool
