#pragma once
// Firmware versions compared as decimal numbers: the leading number of the text,
// the rest ignored, no number = 0 ("1.10" > "1.09", "ABCD" = 0).
#include <string>

namespace ofs {

double VersionNumber(const std::string& text);

}  // namespace ofs
