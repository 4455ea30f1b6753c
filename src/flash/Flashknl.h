#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Ofs.h"
#include "flash/Flashmsg.h"

namespace ofs {

// No value = accepted; a value (even an empty one) = rejected with that text.
std::optional<std::string> CheckImageForDrive(const ErrorMessages& messages, const uint8_t* image,
                                              std::size_t length, const SOFSParameter& parameter,
                                              bool checkSumTest, bool availableModelTest,
                                              const std::vector<std::string>& modelNameTable);

}  // namespace ofs
