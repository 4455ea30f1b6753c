// What a person should know before the working image goes to a drive, whatever
// the acceptance tests in force let through.
#include <cstdio>

#include "app/Mainflash.h"
#include "drive/IdentityText.h"
#include "firmware/Firmware.h"

namespace ofs {
namespace {

constexpr std::size_t kVendorWidth = 8;

// "ORVA KZR-3350P2" from the 24-character vendor and product field.
std::string ModelText(const std::string& model) {
  if (model.size() <= kVendorWidth) return WithoutPadding(model);
  return WithoutPadding(WithoutPadding(model.substr(0, kVendorWidth)) + " " + model.substr(kVendorWidth));
}

std::string WithHardwareId(const std::string& model, const std::string& hardwareId, bool show) {
  return ModelText(model) + (show ? " (hardware ID " + hardwareId + ")" : "");
}

}  // namespace

std::optional<std::string> TMainForm::OtherDriveWarning(EDriveIndex d) {
  if (!imageBuffer || philipsImage) return std::nullopt;
  const std::string imageModel = GetImageModelName(imageBuffer.get(), imageLength);
  const std::string driveModel = ReadModelName(s_.atapi, d);
  // A blank hardware ID and none at all are the same.
  const std::string imageHardware = WithoutPadding(GetImageHardwareId(imageBuffer.get(), imageLength));
  const std::string driveHardware = WithoutPadding(ReadHardwareId(s_.atapi, d));
  const bool otherHardware = imageHardware != driveHardware;
  if (imageModel == driveModel && !otherHardware) return std::nullopt;
  return "WARNING: this image is for " + WithHardwareId(imageModel, imageHardware, otherHardware) +
         ", the drive is " + WithHardwareId(driveModel, driveHardware, otherHardware);
}

// A Philips image names no model: it is for no drive in particular.
bool TMainForm::ImageIsForDrive(EDriveIndex d) { return imageBuffer && !philipsImage && !OtherDriveWarning(d); }

std::vector<std::string> TMainForm::WriteWarnings(EDriveIndex d) {
  std::vector<std::string> warnings;
  if (!imageBuffer || philipsImage) return warnings;
  if (auto other = OtherDriveWarning(d)) warnings.push_back(*other);
  const auto computed =
      static_cast<uint16_t>(ComputeImageCheckSum(imageBuffer.get(), imageLength, imageParameter));
  if (computed != imageParameter.HeaderCheckSum) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "WARNING: the image's checksum %04X disagrees with the %04X its header gives: the file may be "
                  "damaged",
                  computed, imageParameter.HeaderCheckSum);
    warnings.emplace_back(text);
  }
  return warnings;
}

}  // namespace ofs
