#pragma once
// A drive's firmware saved before it is overwritten: its flash read over the layout
// of the image about to be written, stored as a container that flashes like any
// other, so that going back is one more flash.
#include <cstdint>
#include <string>
#include <vector>

#include "drive/AtapiImp.h"
#include "drive/Winfunc.h"
#include "firmware/Ofs.h"
#include "flash/MainView.h"

namespace ofstool {

struct BackupRequest {
  ofs::DriveIndex drive = 0;
  const ofs::SOFSParameter& like;  // banks, slot size, flash types, reserved and kernel blocks
  uint32_t imageLength = 0;        // the flat length of the image the layout comes from
  bool philips = false;            // a Philips image has no layout to read over
  std::string path;
};

struct BackupOutcome {
  bool saved = false;
  std::string text;  // what was saved, or why nothing was (then no file is at the path)
};

// The container of the drive's flash, or empty with `error` saying why. The
// reserved blocks keep what the drive holds: they are that drive's own data.
std::vector<uint8_t> ReadDriveFirmware(const BackupRequest& request, ofs::TAtapiImp& atapi, ofs::MainView& view,
                                       std::string& error);

// Reads the drive and writes the container to request.path, which must not exist
// yet: an earlier backup may be the only copy of a drive's firmware.
BackupOutcome BackUpDrive(const BackupRequest& request, ofs::TAtapiImp& atapi, ofs::MainView& view);

}  // namespace ofstool
