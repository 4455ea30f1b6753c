#pragma once
// Checksums and identification texts read out of a flat image's INQUIRY templates.
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/Ofs.h"

namespace ofs {

uint32_t ComputeImageCheckSum(const uint8_t* image, std::size_t length, const SOFSParameter& parameter);
uint16_t ComputeFixedDataCheckSum(const uint8_t* image, std::size_t length, const SOFSParameter& parameter);
// Byte sum of a Philips flat image, modulo 65536.
uint16_t ComputePhilipsCheckSum(const uint8_t* image, std::size_t length);

std::vector<std::size_t> FindInquiryTemplates(const uint8_t* image, std::size_t length);
std::string GetImageModelName(const uint8_t* image, std::size_t length);
std::string GetImageFirmwareVersion(const uint8_t* image, std::size_t length, uint8_t atapiFlashType);
std::string GetImageHardwareId(const uint8_t* image, std::size_t length);
std::string GetImageInquiryExtension(const uint8_t* image, std::size_t length, uint8_t atapiFlashType);

}  // namespace ofs
