#pragma once
// Firmware containers: OFS (legacy and OFS3) and Philips images, parsed into a
// description plus the flat image as it lies in the drive's flash.
#include <cstdint>
#include <string>
#include <vector>

namespace ofs {

struct SOFSReserveBlock {
  uint32_t Address = 0;
  uint32_t Length = 0;
};

struct SOFSParameter {
  uint16_t HeaderCheckSum = 0;
  uint16_t TrailerWord = 0;
  uint8_t IdeFlashType = 0;
  uint8_t AtapiFlashType = 0;
  uint8_t AtapiFlashKernelType = 0;
  std::vector<SOFSReserveBlock> ReservedBlocks;
  uint32_t MaxBankSize = 0;
  std::vector<uint32_t> BankSizes;
  uint32_t KernelBlockAddress = 0;
  uint32_t KernelBlockLength = 0;
  std::string NameText;
};

inline constexpr char kOfsMagic[] = "ORVA FILE SYSTEM";

// image/length: the whole container as read. Every reader is bounded by length.
bool IsPhilipsImage(const uint8_t* image, std::size_t length);
// Size of the flat image a caller must provide (a Philips image: L, callers subtract 40).
uint32_t GetFirmwareImageSize(const uint8_t* image, std::size_t length);
// flat must be zero-filled and flatLength bytes long; nothing is written outside it.
bool ParseFirmwareImage(const uint8_t* image, std::size_t length, SOFSParameter& parameter, uint8_t* flat,
                        std::size_t flatLength);

// Labels of the flash type codes ("MTK5 Type", "Not support", ...); "" when the code has none.
std::string IdeFlashTypeName(uint8_t code);
std::string AtapiFlashTypeName(uint8_t code);

}  // namespace ofs
