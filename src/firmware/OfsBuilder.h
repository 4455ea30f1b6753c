#pragma once
// Builds firmware containers (OFS3, legacy OFS, Philips) and the flat images
// inside them, for the mkofs tool, ofstool's backups, the tests, the benchmarks and the demo.
#include <cstdint>
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace ofs::build {

struct InquiryTemplate {
  std::size_t offset = 0;             // where in the flat image the template starts
  std::string vendor = "ORVA";        // padded to 8 with spaces
  std::string product = "KZR-3350P2";  // padded to 16
  std::string revision = "1.00";      // 4 characters ("BOOT" for a boot loader's)
  std::string hardwareId = "A1";      // 2 characters
  std::string extension = "061201";   // 6 characters at template + 40
  std::optional<std::string> dcExtension;  // 6 characters written with "DC" in front of the template
};

// Fills a flat image with a deterministic pattern and places the templates in it.
// The pattern never contains the template signature 05 80 00 by accident.
std::vector<uint8_t> MakeFlatImage(std::size_t length, uint32_t seed,
                                   const std::vector<InquiryTemplate>& templates);

// Writes the templates into an existing image, each clipped to the image.
void PlaceTemplates(std::vector<uint8_t>& image, const std::vector<InquiryTemplate>& templates);

struct OfsLayout {
  char version = '3';  // '3' = OFS3; ' ', '1', '2' = legacy
  bool scrambled = true;
  uint8_t ideFlashType = 4;
  uint8_t atapiFlashType = 6;
  uint8_t kernelType = 0;
  std::array<uint8_t, 4> keyParameters{0x11, 0x22, 0x05, 0x33};
  uint32_t slotSize = 0x10000;             // OFS3 only; legacy slots are always 0x10000
  std::vector<uint32_t> bankSizes;         // empty: every bank fills its slot (legacy: 0xFFFF bytes)
  std::vector<std::pair<uint32_t, uint32_t>> reservedBlocks;  // OFS3 only
  uint32_t kernelAddress = 0, kernelLength = 0;               // OFS3 only
  std::optional<uint16_t> headerChecksum;  // empty: computed as the container's image checksum
  std::optional<uint8_t> scrambleFlag;     // empty: the flag that matches `scrambled` for the version
};

// flat: the flat image (bank i at i * slot). Returns the container bytes, or an
// empty vector when the layout cannot be stored (a bank longer than its slot, a
// legacy bank over 65535 bytes or more than 38 legacy banks).
// A legacy scrambled bank always parses back with 0x02 as its first byte, so a
// faithful one needs that byte in the flat image.
std::vector<uint8_t> BuildOfs(const OfsLayout& layout, const std::vector<uint8_t>& flat);

// The header alone, as BuildOfs writes it for these bank lengths and this header
// checksum; the banks follow it.
std::vector<uint8_t> BuildOfsHeader(const OfsLayout& layout, const std::vector<uint32_t>& sizes, uint16_t checksum);

// The bank lengths BuildOfs stores: layout.bankSizes, or as many full banks as the flat image needs.
std::vector<uint32_t> BankSizesFor(const OfsLayout& layout, std::size_t flatLength);

// The flat image the container of BuildOfs(layout, flat) parses to: the banks at
// their slots, every byte past a bank's length 0x00.
std::vector<uint8_t> ExpectedFlat(const OfsLayout& layout, const std::vector<uint8_t>& flat);

// Philips image as a file holds it (name, body, trailer words), or with its
// big-endian length in front as the embedded CVT area holds it.
std::vector<uint8_t> BuildPhilips(const std::string& name, const std::vector<uint8_t>& body, uint16_t trailer1,
                                  uint16_t trailer2, bool withLength);

}  // namespace ofs::build
