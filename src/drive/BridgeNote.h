#pragma once
// What a person is told before flashing a drive that sits behind a USB bridge.
#include <string>

#include "drive/AtapiImp.h"

namespace ofs {

// Empty for a drive on any other transport.
inline std::string UsbBridgeNote(const TAtapiImp& atapi, int d) {
  const AtapiDriveEntry& drive = atapi.drives[d];
  if (drive.transport != "usb") return {};
  return "Note: drive " + std::to_string(d) + " is attached through a USB bridge (" + drive.bridge +
         "): a bridge can drop or cut the drive's vendor commands; connect it directly where you can.";
}

}  // namespace ofs
