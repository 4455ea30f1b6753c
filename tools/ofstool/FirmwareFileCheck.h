#pragma once
// What is wrong with a firmware file at a glance, said so that a person can act
// on it, before the loader's own (terser) texts.
#include <string>

namespace ofstool {

// Says on stderr why the file cannot be a firmware file (false), or what is worth
// knowing although it can (a zip archive of several members).
bool FirmwareFileUsable(const std::string& path);

}  // namespace ofstool
