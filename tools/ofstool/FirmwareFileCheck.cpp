#include "ofstool/FirmwareFileCheck.h"

#include <cstdio>
#include <cstring>

#include "app/ZipArchive.h"
#include "drive/IdentityText.h"
#include "firmware/ImageSize.h"
#include "params/RegularFile.h"

namespace ofstool {
namespace {

struct FileCheck {
  std::string problem;  // why the file cannot be a firmware file, or empty
  std::string note;     // worth saying although the file is usable
};

bool LooksLikeZip(ofs::InputFile& file) {
  uint8_t magic[4] = {};
  file.Read(magic, sizeof magic);
  return std::memcmp(magic, "PK\x03\x04", 4) == 0 || std::memcmp(magic, "PK\x05\x06", 4) == 0;
}

FileCheck CheckFirmwareFile(const std::string& path) {
  ofs::InputFile file(path);
  if (!file.ok()) return {file.problem(), {}};
  if (file.size() == 0) return {"is empty", {}};
  if (file.size() > ofs::kMaxFileBytes) {
    return {"larger than any firmware container (" + std::to_string(file.size()) + " bytes)", {}};
  }
  if (!LooksLikeZip(file)) return {};
  const uint64_t members = ofs::ZipArchive(path).MemberCount();
  if (members == 0) return {"zip archive holds no member", {}};
  if (members == 1) return {};
  return {{}, "zip archive holds " + std::to_string(members) + " members; the last one is used"};
}

}  // namespace

bool FirmwareFileUsable(const std::string& path) {
  const FileCheck check = CheckFirmwareFile(path);
  const std::string& said = check.problem.empty() ? check.note : check.problem;
  if (!said.empty()) std::fprintf(stderr, "ofstool: %s: %s\n", ofs::ShownName(path).c_str(), said.c_str());
  return check.problem.empty();
}

}  // namespace ofstool
