// ofstool info [--json] FILE: what the program reads out of one firmware container.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Firmware.h"
#include "firmware/Ofs.h"
#include "ofstool/Commands.h"
#include "ofstool/ContainerFile.h"
#include "ofstool/JsonWriter.h"

namespace ofstool {

namespace {

struct Description {
  std::string kind;
  std::string version;
  bool scrambled = false;
  ofs::SOFSParameter parameter;
  std::size_t imageLength = 0;
  uint32_t imageChecksum = 0;
  uint16_t fixedDataChecksum = 0;
  std::vector<std::size_t> templates;
  std::string modelName, firmwareVersion, hardwareId, inquiryExtension;
};

Description Describe(const ParsedContainer& parsed) {
  const bool philips = parsed.philips;
  const std::vector<uint8_t>& bytes = parsed.bytes;
  Description d;
  d.parameter = parsed.parameter;
  d.imageLength = parsed.imageLength;
  const uint8_t version = philips ? 0 : bytes[24];
  const uint8_t flag = philips ? 0 : bytes[25];
  d.kind = philips ? "philips" : version == '3' ? "ofs3" : "ofs-legacy";
  d.version = philips ? "" : std::string(1, static_cast<char>(version));
  d.scrambled = !philips && flag == (version == '3' ? 2 : 1);

  const uint8_t* image = parsed.flat.get();
  const std::size_t n = d.imageLength;
  const uint8_t type = d.parameter.AtapiFlashType;
  d.imageChecksum = ofs::ComputeImageCheckSum(image, n, d.parameter);
  d.fixedDataChecksum =
      philips ? ofs::ComputePhilipsCheckSum(image, n) : ofs::ComputeFixedDataCheckSum(image, n, d.parameter);
  d.templates = ofs::FindInquiryTemplates(image, n);
  d.modelName = ofs::GetImageModelName(image, n);
  d.firmwareVersion = ofs::GetImageFirmwareVersion(image, n, type);
  d.hardwareId = ofs::GetImageHardwareId(image, n);
  d.inquiryExtension = ofs::GetImageInquiryExtension(image, n, type);
  return d;
}

std::string AsJson(const Description& d) {
  const ofs::SOFSParameter& p = d.parameter;
  JsonWriter json;
  json.BeginObject();
  json.Key("kind").String(d.kind).Key("version").String(d.version).Key("scrambled").Bool(d.scrambled);
  json.Key("header_checksum").Number(p.HeaderCheckSum).Key("trailer_word").Number(p.TrailerWord);
  json.Key("ide_flash_type").Number(p.IdeFlashType).Key("atapi_flash_type").Number(p.AtapiFlashType);
  json.Key("atapi_flash_type_name").String(ofs::AtapiFlashTypeName(p.AtapiFlashType));
  json.Key("atapi_flash_kernel_type").Number(p.AtapiFlashKernelType);
  json.Key("max_bank_size").Number(p.MaxBankSize);
  json.Key("bank_sizes").BeginArray();
  for (uint32_t size : p.BankSizes) json.Number(size);
  json.EndArray().Key("reserved_blocks").BeginArray();
  for (const ofs::SOFSReserveBlock& b : p.ReservedBlocks) json.BeginArray().Number(b.Address).Number(b.Length).EndArray();
  json.EndArray();
  json.Key("kernel_block").BeginArray().Number(p.KernelBlockAddress).Number(p.KernelBlockLength).EndArray();
  json.Key("name_text").String(p.NameText);
  json.Key("image_length").Number(static_cast<int64_t>(d.imageLength));
  json.Key("image_checksum").Number(d.imageChecksum).Key("fixed_data_checksum").Number(d.fixedDataChecksum);
  json.Key("templates").BeginArray();
  for (std::size_t t : d.templates) json.Number(static_cast<int64_t>(t));
  json.EndArray();
  json.Key("model_name").String(d.modelName).Key("firmware_version").String(d.firmwareVersion);
  json.Key("hardware_id").String(d.hardwareId).Key("inquiry_extension").String(d.inquiryExtension);
  json.EndObject();
  return json.Text();
}

void PrintListing(const Description& d) {
  const ofs::SOFSParameter& p = d.parameter;
  std::printf("Kind:                %s%s%s\n", d.kind.c_str(), d.version.empty() ? "" : " version ",
              d.version.empty() ? "" : JsonString(d.version).c_str());
  std::printf("Scrambled:           %s\n", d.scrambled ? "yes" : "no");
  std::printf("Header checksum:     %04X\n", p.HeaderCheckSum);
  if (d.kind == "philips") {
    std::printf("Trailer word:        %04X\n", p.TrailerWord);
    std::printf("Name text:           %s\n", JsonString(p.NameText).c_str());
  } else {
    std::printf("IDE flash type:      %u (%s)\n", p.IdeFlashType, ofs::IdeFlashTypeName(p.IdeFlashType).c_str());
    std::printf("ATAPI flash type:    %u (%s)\n", p.AtapiFlashType, ofs::AtapiFlashTypeName(p.AtapiFlashType).c_str());
    std::printf("Kernel type:         %u\n", p.AtapiFlashKernelType);
    std::printf("Bank slot size:      0x%X\n", p.MaxBankSize);
    for (std::size_t i = 0; i < p.BankSizes.size(); ++i) std::printf("Bank %-3zu            0x%X bytes\n", i, p.BankSizes[i]);
    for (const ofs::SOFSReserveBlock& b : p.ReservedBlocks)
      std::printf("Reserved block:      0x%X, 0x%X bytes\n", b.Address, b.Length);
    std::printf("Kernel block:        0x%X, 0x%X bytes\n", p.KernelBlockAddress, p.KernelBlockLength);
  }
  std::printf("Image length:        0x%zX\n", d.imageLength);
  std::printf("Image checksum:      %08X (low 16 bits %04X)\n", d.imageChecksum, d.imageChecksum & 0xFFFF);
  std::printf("Fixed-data checksum: %04X\n", d.fixedDataChecksum);
  // A Philips image has no header checksum to disagree with.
  if (d.kind != "philips" && (d.imageChecksum & 0xFFFF) != p.HeaderCheckSum) {
    std::printf("WARNING: the image checksum %04X disagrees with the header's %04X: the file may be damaged\n",
                d.imageChecksum & 0xFFFF, p.HeaderCheckSum);
  }
  for (std::size_t t : d.templates) std::printf("INQUIRY template:    0x%zX\n", t);
  std::printf("Model name:          %s\n", JsonString(d.modelName).c_str());
  std::printf("Firmware version:    %s\n", JsonString(d.firmwareVersion).c_str());
  std::printf("Hardware ID:         %s\n", JsonString(d.hardwareId).c_str());
  std::printf("Inquiry extension:   %s\n", JsonString(d.inquiryExtension).c_str());
}

}  // namespace

int RunInfo(const Words& words) {
  bool json = false;
  const char* path = nullptr;
  for (const Word& word : words) {
    if (word.option && word.text == "--json") {
      json = true;
    } else if (path == nullptr && !word.option && !word.text.empty()) {
      path = word.text.c_str();
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: ofstool info [--json] FILE\n");
    return 2;
  }
  const std::optional<ParsedContainer> parsed = LoadContainerFile(path);
  if (!parsed) return 1;
  const Description d = Describe(*parsed);
  if (json) {
    std::fputs(AsJson(d).c_str(), stdout);
  } else {
    PrintListing(d);
  }
  return 0;
}

}  // namespace ofstool
