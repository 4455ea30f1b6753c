#include "drive/sim/SimFirmware.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "firmware/Firmware.h"
#include "firmware/Ofs.h"
#include "params/RegularFile.h"

namespace ofs {
namespace {

constexpr std::size_t kTemplateBytes = 46;        // bytes 0-45 of the reply come from the template
constexpr std::size_t kMaxFirmwareFile = 64u << 20;

void PutField(uint8_t* at, const std::string& text, std::size_t width) {
  std::memset(at, ' ', width);
  std::memcpy(at, text.data(), std::min(text.size(), width));
}

// The "BOOT" template rule of the image readers, plus the boot loader's own template.
std::size_t ChooseTemplate(const std::vector<uint8_t>& flash, const std::vector<std::size_t>& templates,
                           bool inBootCode) {
  const auto readsBoot = [&](std::size_t t) {
    return t + 36 <= flash.size() && std::memcmp(flash.data() + t + 32, "BOOT", 4) == 0;
  };
  // In boot code the first template answers: the boot loader's, or the only one.
  if (inBootCode || templates.size() < 2 || !readsBoot(templates[0])) return templates[0];
  return templates[1];
}

}  // namespace

std::vector<uint8_t> BuildInitialFlash(const SimDriveProfile& profile) {
  std::vector<uint8_t> flash(profile.flashSize, 0);
  if (!profile.firmware.empty()) {
    std::copy_n(profile.firmware.begin(), std::min(profile.firmware.size(), flash.size()), flash.begin());
    return flash;
  }
  if (flash.size() < kSimTemplateOffset + kTemplateBytes) return flash;
  uint8_t* t = flash.data() + kSimTemplateOffset;
  t[0] = 0x05;
  t[1] = 0x80;
  t[3] = 0x02;
  t[4] = static_cast<uint8_t>(kTemplateBytes - 5);
  PutField(t + 8, profile.vendor, 8);
  PutField(t + 16, profile.product, 16);
  PutField(t + 32, profile.revision, 4);
  PutField(t + 38, profile.hardwareId, 2);
  PutField(t + 40, profile.dateCode, 6);
  return flash;
}

std::array<uint8_t, kSimInquiryLength> BuildInquiryData(const std::vector<uint8_t>& flash,
                                                        const std::vector<std::size_t>& templates, bool inBootCode) {
  std::array<uint8_t, kSimInquiryLength> data{};
  data[0] = 0x05;
  data[1] = 0x80;
  if (templates.empty()) return data;
  const std::size_t t = ChooseTemplate(flash, templates, inBootCode);
  const std::size_t available = std::min(kTemplateBytes, flash.size() - t);
  std::copy_n(flash.begin() + static_cast<std::ptrdiff_t>(t), available, data.begin());
  if (t >= 12 && flash[t - 12] == 'D' && flash[t - 11] == 'C')
    std::copy_n(flash.begin() + static_cast<std::ptrdiff_t>(t - 10), 6, data.begin() + 40);
  const bool bootTemplate = std::memcmp(data.data() + 32, "BOOT", 4) == 0;
  if (inBootCode && !bootTemplate) std::memcpy(data.data() + 32, "BOOT", 4);
  return data;
}

bool LoadSimFirmwareFile(const std::string& path, uint32_t flashSize, SimDriveProfile& profile,
                         std::string& error) {
  std::string problem;
  std::optional<std::vector<uint8_t>> read = ReadRegularFile(path, problem, kMaxFirmwareFile);
  if (!read) {
    error = "cannot read firmware file '" + path + "': " + problem;
    return false;
  }
  std::vector<uint8_t> bytes = std::move(*read);
  const bool container = IsPhilipsImage(bytes.data(), bytes.size()) ||
                         (bytes.size() >= 16 && std::memcmp(bytes.data(), kOfsMagic, 16) == 0);
  if (!container) {
    if (bytes.size() > flashSize) {
      error = "firmware file '" + path + "' is larger than the flash";
      return false;
    }
    profile.firmware = std::move(bytes);
    return true;
  }
  if (GetFirmwareImageSize(bytes.data(), bytes.size()) > flashSize) {
    error = "firmware in '" + path + "' is larger than the flash";
    return false;
  }
  std::vector<uint8_t> flat(flashSize, 0);
  SOFSParameter parameter;
  if (!ParseFirmwareImage(bytes.data(), bytes.size(), parameter, flat.data(), flat.size())) {
    error = "firmware file '" + path + "' is not a valid container";
    return false;
  }
  if (!profile.flashFamily)
    profile.flashFamily = IsPhilipsImage(bytes.data(), bytes.size()) ? kSimPhilipsFamily : parameter.AtapiFlashType;
  if (profile.checksumExclude.empty()) {
    // The drive's own checksum leaves out what the fixed-data checksum leaves out.
    profile.checksumExclude = parameter.ReservedBlocks;
    if (parameter.KernelBlockLength > 0)
      profile.checksumExclude.push_back({parameter.KernelBlockAddress, parameter.KernelBlockLength});
  }
  profile.firmware = std::move(flat);
  return true;
}

bool LoadSimFlashFile(SimDriveProfile& profile, std::string& error) {
  std::error_code missing;
  if (!std::filesystem::exists(profile.flashFile, missing)) return true;
  std::string problem;
  std::optional<std::vector<uint8_t>> bytes = ReadRegularFile(profile.flashFile, problem, profile.flashSize);
  if (!bytes) {
    error = "cannot read flash file '" + profile.flashFile + "': " + problem;
    return false;
  }
  if (bytes->size() != profile.flashSize) {
    error = "flash file '" + profile.flashFile + "' does not hold " + std::to_string(profile.flashSize) + " bytes";
    return false;
  }
  profile.firmware = std::move(*bytes);
  return true;
}

}  // namespace ofs
