#include "ofstool/FirmwareFileCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/ZipArchive.h"
#include "firmware/ImageSize.h"

namespace ofstool {
namespace {

struct FileCheck {
  std::string problem;  // why the file cannot be a firmware file, or empty
  std::string note;     // worth saying although the file is usable
};

bool LooksLikeZip(const std::string& path) {
  char magic[4] = {};
  std::ifstream(path, std::ios::binary).read(magic, sizeof magic);
  return std::memcmp(magic, "PK\x03\x04", 4) == 0 || std::memcmp(magic, "PK\x05\x06", 4) == 0;
}

FileCheck CheckFirmwareFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return {"no such file", {}};
    return {errno == EACCES ? "permission denied" : std::strerror(errno), {}};
  }
  if (S_ISDIR(info.st_mode)) return {"is a directory", {}};
  if (!S_ISREG(info.st_mode)) return {"is not a regular file", {}};
  if (::access(path.c_str(), R_OK) != 0) return {"permission denied", {}};
  if (info.st_size == 0) return {"is empty", {}};
  if (static_cast<uint64_t>(info.st_size) > ofs::kMaxFileBytes) {
    return {"larger than any firmware container (" + std::to_string(info.st_size) + " bytes)", {}};
  }
  if (!LooksLikeZip(path)) return {};
  const uint64_t members = ofs::ZipArchive(path).MemberCount();
  if (members == 0) return {"zip archive holds no member", {}};
  if (members == 1) return {};
  return {{}, "zip archive holds " + std::to_string(members) + " members; the last one is used"};
}

}  // namespace

bool FirmwareFileUsable(const std::string& path) {
  const FileCheck check = CheckFirmwareFile(path);
  const std::string& said = check.problem.empty() ? check.note : check.problem;
  if (!said.empty()) std::fprintf(stderr, "ofstool: %s: %s\n", path.c_str(), said.c_str());
  return check.problem.empty();
}

}  // namespace ofstool
