#pragma once
// mkofs checks every container it builds by parsing it back with the program's
// own parser; a difference means the container would not flash what was asked.
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/OfsBuilder.h"

namespace ofs::build {

// Empty on success, else what differs.
std::string CheckOfs(const std::vector<uint8_t>& container, const OfsLayout& layout, const std::vector<uint8_t>& flat);
// container: as BuildPhilips returned it (withLength as passed there).
std::string CheckPhilips(const std::vector<uint8_t>& container, bool withLength, const std::string& name,
                         const std::vector<uint8_t>& body, uint16_t trailer1, uint16_t trailer2);

}  // namespace ofs::build
