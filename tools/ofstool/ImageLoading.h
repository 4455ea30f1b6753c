#pragma once
// ofstool flash and verify begin alike: start-up, the file loaded as the window's
// Load does it (discovery and matching included), and the drive that selects.
#include <optional>
#include <string>

#include "app/Mainflash.h"
#include "ofstool/ConsoleView.h"

namespace ofstool {

struct DriveChoice {
  int drive = -1;       // its transport index
  int item = -1;        // its line in the view's drive list
  std::string failure;  // why there is none; empty when there is
};

// The drive `wanted` (default: the one the loading selected). `act` says what the
// command does to a drive ("write"), `nothing` what it leaves undone ("nothing was written.").
DriveChoice LoadImageForDrive(ofs::TMainForm& form, ConsoleView& view, const ofs::TAtapiImp& atapi,
                              const std::string& file, std::optional<int> wanted, const std::string& act,
                              const std::string& nothing);

}  // namespace ofstool
