#include "mkofs/SelfCheck.h"

#include <algorithm>

#include "firmware/Firmware.h"
#include "firmware/Ofs.h"

namespace ofs::build {

namespace {

bool SameBlocks(const std::vector<SOFSReserveBlock>& parsed, const std::vector<std::pair<uint32_t, uint32_t>>& wanted) {
  return std::equal(parsed.begin(), parsed.end(), wanted.begin(), wanted.end(),
                    [](const SOFSReserveBlock& b, const auto& w) { return b.Address == w.first && b.Length == w.second; });
}

std::string CheckOfs3Fields(const SOFSParameter& p, const OfsLayout& layout) {
  if (p.IdeFlashType != layout.ideFlashType || p.AtapiFlashType != layout.atapiFlashType ||
      p.AtapiFlashKernelType != layout.kernelType)
    return "flash type codes differ";
  if (p.MaxBankSize != layout.slotSize) return "bank slot size differs";
  if (!SameBlocks(p.ReservedBlocks, layout.reservedBlocks)) return "reserved blocks differ";
  if (p.KernelBlockAddress != layout.kernelAddress || p.KernelBlockLength != layout.kernelLength)
    return "kernel block differs";
  return {};
}

}  // namespace

std::string CheckOfs(const std::vector<uint8_t>& container, const OfsLayout& layout, const std::vector<uint8_t>& flat) {
  if (container.empty()) return "the bank layout cannot be stored in this container version";
  const uint32_t size = GetFirmwareImageSize(container.data(), container.size());
  const std::vector<uint8_t> expected = ExpectedFlat(layout, flat);
  if (size != expected.size()) return "the header gives a flat image of " + std::to_string(size) + " bytes";
  std::vector<uint8_t> parsed(size);
  SOFSParameter p;
  if (!ParseFirmwareImage(container.data(), container.size(), p, parsed.data(), parsed.size()))
    return "the container does not parse";
  if (parsed != expected) return "the flat image parsed back differs (a legacy scrambled bank must start with 0x02)";
  if (p.BankSizes != BankSizesFor(layout, flat.size())) return "bank sizes differ";
  if (layout.version == '3') {
    if (std::string error = CheckOfs3Fields(p, layout); !error.empty()) return error;
  }
  const uint16_t checksum =
      layout.headerChecksum.value_or(static_cast<uint16_t>(ComputeImageCheckSum(parsed.data(), parsed.size(), p)));
  if (p.HeaderCheckSum != checksum) return "header checksum differs";
  return {};
}

std::string CheckPhilips(const std::vector<uint8_t>& container, bool withLength, const std::string& name,
                         const std::vector<uint8_t>& body, uint16_t trailer1, uint16_t trailer2) {
  std::vector<uint8_t> image = container;
  if (!withLength) {
    const auto length = static_cast<uint32_t>(image.size());
    image.insert(image.begin(), {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                                 static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  }
  if (!IsPhilipsImage(image.data(), image.size())) return "the name does not begin with \"Philips\"";
  const uint32_t size = GetFirmwareImageSize(image.data(), image.size());
  if (size != body.size() + 40) return "the length in front is wrong";
  std::vector<uint8_t> parsed(body.size());
  SOFSParameter p;
  if (!ParseFirmwareImage(image.data(), image.size(), p, parsed.data(), parsed.size())) return "the image does not parse";
  if (parsed != body) return "the body parsed back differs";
  if (p.HeaderCheckSum != trailer1 || p.TrailerWord != trailer2) return "trailer words differ";
  if (p.NameText != name.substr(0, std::min(name.find('\0'), std::size_t{36}))) return "name text differs";
  return {};
}

}  // namespace ofs::build
