#include "ofstool/ContainerFile.h"

#include <cstdio>
#include <cstring>

#include "app/ZipArchive.h"
#include "drive/IdentityText.h"
#include "firmware/ImageSize.h"
#include "ofstool/FirmwareFileCheck.h"
#include "params/Tool.h"

namespace ofstool {
namespace {

constexpr std::size_t kPhilipsHeaderLength = 40;

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  const uint32_t length = ofs::GetFileLength(path);
  if (length == 0) return std::nullopt;
  std::vector<uint8_t> bytes(length);
  if (!ofs::ReadFileBinary(path, length, bytes.data())) return std::nullopt;
  return bytes;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const char* text) {
  const std::size_t n = std::strlen(text);
  return bytes.size() >= n && std::memcmp(bytes.data(), text, n) == 0;
}

// The file as the loader hands it to the parser: a zip archive gives its last member,
// and a Philips file gets its length in front.
std::optional<std::vector<uint8_t>> ReadContainer(const std::string& path) {
  std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
  if (!bytes) return std::nullopt;
  if (!StartsWith(*bytes, "OR") && !StartsWith(*bytes, "Philips")) {
    if (const ofs::ZipMember member = ofs::ExtractLastZipMember(path); member.file) {
      bytes = ReadWholeFile(member.file->path());
      if (!bytes) return std::nullopt;
    }
  }
  if (StartsWith(*bytes, "Philips")) {
    const uint32_t length = static_cast<uint32_t>(bytes->size());
    const uint8_t prefix[4] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                               static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    bytes->insert(bytes->begin(), prefix, prefix + 4);
  }
  return bytes;
}

std::optional<ParsedContainer> ParseContainer(std::vector<uint8_t> bytes, std::string& error) {
  ParsedContainer c;
  c.philips = ofs::IsPhilipsImage(bytes.data(), bytes.size());
  const uint32_t size = ofs::PlausibleImageSize(bytes.data(), bytes.size());
  if (size == 0) {
    error = "image size is 0 or implausibly large (not a firmware container)";
    return std::nullopt;
  }
  c.imageLength = c.philips ? (size >= kPhilipsHeaderLength ? size - kPhilipsHeaderLength : 0) : size;
  c.flat = AllocateFlatImage(c.imageLength);
  if (!c.flat) {
    error = "flat image of " + std::to_string(c.imageLength) + " bytes cannot be allocated";
    return std::nullopt;
  }
  if (!ofs::ParseFirmwareImage(bytes.data(), bytes.size(), c.parameter, c.flat.get(), c.imageLength)) {
    error = "the container does not parse";
    return std::nullopt;
  }
  c.bytes = std::move(bytes);
  return c;
}

std::optional<ParsedContainer> ReadParsedContainer(const std::string& path, std::string& error) {
  std::optional<std::vector<uint8_t>> bytes = ReadContainer(path);
  if (!bytes) {
    error = "cannot read the file or it is empty";
    return std::nullopt;
  }
  return ParseContainer(std::move(*bytes), error);
}

}  // namespace

std::optional<ParsedContainer> LoadContainerFile(const std::string& path) {
  if (!FirmwareFileUsable(path)) return std::nullopt;
  std::string error;
  std::optional<ParsedContainer> parsed = ReadParsedContainer(path, error);
  if (!parsed) std::fprintf(stderr, "ofstool: %s: %s\n", ofs::ShownName(path).c_str(), error.c_str());
  return parsed;
}

std::string NotAContainerLine(const std::string& path) {
  std::string error;
  if (ReadParsedContainer(path, error)) return {};
  return "ofstool: " + path + ": " + error + "; nothing was written.";
}

}  // namespace ofstool
