// What a person should know before the working image goes to a drive, whatever
// the acceptance tests in force let through.
#include <cstdio>

#include "app/Mainflash.h"
#include "app/ModelRule.h"
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
  return ShownIdentity(ModelText(model) + (show ? " (hardware ID " + hardwareId + ")" : ""));
}

std::string ModelAndHardware(const std::string& model, const std::string& hardwareId) {
  return ShownIdentity(ModelText(model) + " (" + (hardwareId.empty() ? std::string("no hardware ID") : hardwareId) + ")");
}

// A Philips image carries no model to hold against the drive's.
std::string PhilipsImageWarning(int d) {
  return "WARNING: a Philips image names no drive model, so nothing can check that it fits drive " + std::to_string(d);
}

}  // namespace

std::optional<ModelMismatch> FindModelMismatch(TAtapiImp& atapi, DriveIndex d, const uint8_t* image,
                                              std::size_t length) {
  // A blank hardware ID and none at all are the same.
  ModelMismatch m{GetImageModelName(image, length), WithoutPadding(GetImageHardwareId(image, length)),
                  ReadModelName(atapi, d), WithoutPadding(ReadHardwareId(atapi, d))};
  if (m.imageModel == m.driveModel && m.imageHardware == m.driveHardware) return std::nullopt;
  return m;
}

std::string ModelWarning(const ModelMismatch& m) {
  const bool otherHardware = m.imageHardware != m.driveHardware;
  return "WARNING: this image is for " + WithHardwareId(m.imageModel, m.imageHardware, otherHardware) +
         ", the drive is " + WithHardwareId(m.driveModel, m.driveHardware, otherHardware);
}

std::string NoIdentityReason(int d) {
  return "drive " + std::to_string(d) + " does not tell its model, so nothing can check that this image fits it";
}

std::string NoIdentityWarning(int d) { return "WARNING: " + NoIdentityReason(d); }

std::optional<ModelMismatch> TMainForm::FindModelMismatch(EDriveIndex d) {
  if (!imageBuffer || philipsImage) return std::nullopt;
  return ofs::FindModelMismatch(s_.atapi, d, imageBuffer.get(), imageLength);
}

bool TMainForm::ConfirmModel(EDriveIndex d) {
  const auto m = FindModelMismatch(d);
  if (!m) return true;
  return s_.view.AskOkCancelDefaultCancel("This firmware is for " + ModelAndHardware(m->imageModel, m->imageHardware) +
                                              ". The selected drive is " +
                                              ModelAndHardware(m->driveModel, m->driveHardware) + ". Write it anyway?",
                                          "Warning!");
}

// A Philips image names no model: it is for no drive in particular.
bool TMainForm::ImageIsForDrive(EDriveIndex d) { return imageBuffer && !philipsImage && !FindModelMismatch(d); }

std::vector<std::string> TMainForm::WriteWarnings(EDriveIndex d) {
  std::vector<std::string> warnings;
  if (IsUnidentified(d)) {
    warnings.push_back(NoIdentityWarning(d));
  } else if (const auto m = FindModelMismatch(d)) {
    warnings.push_back(ModelWarning(*m));
  }
  if (philipsImage) warnings.push_back(PhilipsImageWarning(d));
  if (!imageBuffer || philipsImage) return warnings;
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
