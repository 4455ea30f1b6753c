#include "flash/Flashknl.h"

#include "firmware/Firmware.h"

namespace ofs {
namespace {

constexpr std::size_t kModelNameWidth = 24;

}  // namespace

std::optional<std::string> CheckImageForDrive(const ErrorMessages& messages, const uint8_t* image,
                                              std::size_t length, const SOFSParameter& parameter,
                                              bool checkSumTest, bool availableModelTest,
                                              const std::vector<std::string>& modelNameTable) {
  if (checkSumTest) {
    const auto sum = static_cast<uint16_t>(ComputeImageCheckSum(image, length, parameter));
    if (sum != parameter.HeaderCheckSum) return messages[kMsgCheckSumError];
  }
  if (!availableModelTest) return std::nullopt;
  const std::string model = GetImageModelName(image, length).substr(0, kModelNameWidth);
  for (const std::string& accepted : modelNameTable) {
    if (accepted.substr(0, kModelNameWidth) == model) return std::nullopt;
  }
  return messages[kMsgDriveUnavailable];
}

}  // namespace ofs
