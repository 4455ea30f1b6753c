#pragma once
// The sense of the last command as a person quotes it in a report: "05/24/00".
#include <cstdint>
#include <cstdio>
#include <string>

#include "drive/AtapiImp.h"

namespace ofstool {

inline std::string SenseOfLastCommand(const ofs::TAtapiImp& atapi) {
  uint8_t sense[18] = {};
  atapi.GetSenseData(sense);
  char text[16];
  std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
  return text;
}

}  // namespace ofstool
