#pragma once
// What a flash procedure works with: the drive, the screen and the working image.
#include <cstdint>
#include <optional>
#include <string>

#include "drive/AtapiImp.h"
#include "drive/Winfunc.h"
#include "firmware/Ofs.h"
#include "flash/MainView.h"

namespace ofs {

// No value = success; a value (possibly empty when silent) = the failure text.
using FlashResult = std::optional<std::string>;

struct FlashContext {
  TAtapiImp& atapi;
  MainView& view;
  uint8_t* imageBuffer;  // flat working image; FlashBankWrite pads odd banks in place
  uint32_t imageLength;
  const SOFSParameter& imageParameter;
  uint16_t imageChecksum;
  SenseData& senseData;  // the window's copy of the sense of the last failed command
  bool silent;
  bool updaterMode;

  Clock& clock() { return atapi.clock(); }
};

}  // namespace ofs
