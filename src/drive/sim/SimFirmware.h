#pragma once
// The firmware side of a simulated drive: its initial flash and the INQUIRY data
// its firmware answers with, read from the template inside the flash.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/sim/SimProfile.h"

namespace ofs {

inline constexpr std::size_t kSimTemplateOffset = 0x200;  // where an identity-built flash keeps its template
inline constexpr std::size_t kSimInquiryLength = 96;

// A flash of profile.flashSize bytes: the loaded firmware, or, without one, a
// zero flash with one INQUIRY template made of the profile's identity.
std::vector<uint8_t> BuildInitialFlash(const SimDriveProfile& profile);

// INQUIRY data from the template the image readers would choose; in boot code
// from the boot loader's template, or with revision "BOOT" when there is none.
// All zero past byte 2 when the flash holds no template.
std::array<uint8_t, kSimInquiryLength> BuildInquiryData(const std::vector<uint8_t>& flash,
                                                        const std::vector<std::size_t>& templates, bool inBootCode);

// Reads a firmware file for a profile: an OFS or Philips container is parsed into
// its flat image, anything else is taken as a flat image. False with a reason.
bool LoadSimFirmwareFile(const std::string& path, uint32_t flashSize, SimDriveProfile& profile,
                         std::string& error);

// Takes profile.flashFile as the flash when that file exists; it must hold exactly
// flashSize bytes. A missing file is no error: the drive writes it when it starts.
bool LoadSimFlashFile(SimDriveProfile& profile, std::string& error);

}  // namespace ofs
