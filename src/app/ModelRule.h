#pragma once
// Whether a drive is what an image is for: the model name and hardware ID the image
// names against the drive's. The one rule for every command that acts on a drive
// with an image (flash, verify, backup --like).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "drive/AtapiImp.h"
#include "drive/Winfunc.h"

namespace ofs {

struct ModelMismatch {
  std::string imageModel, imageHardware, driveModel, driveHardware;
};

// Nothing when drive d is the model and hardware the flat image names.
std::optional<ModelMismatch> FindModelMismatch(TAtapiImp& atapi, DriveIndex d, const uint8_t* image,
                                              std::size_t length);
// "WARNING: this image is for ..., the drive is ...".
std::string ModelWarning(const ModelMismatch& m);
// For a drive that answers no model name: "drive N does not tell its model, so ...", and
// the same as a "WARNING:" line.
std::string NoIdentityReason(int d);
std::string NoIdentityWarning(int d);

}  // namespace ofs
