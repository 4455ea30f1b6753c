#include "app/ZipArchive.h"

#include <unzip.h>

#include <vector>

namespace ofs {

ZipArchive::ZipArchive(const std::string& path) : handle_(unzOpen64(path.c_str())) {}

ZipArchive::~ZipArchive() {
  if (handle_ != nullptr) unzClose(handle_);
}

uint64_t ZipArchive::MemberCount() const {
  if (handle_ == nullptr) return 0;
  unz_global_info64 info{};
  if (unzGetGlobalInfo64(handle_, &info) != UNZ_OK) return 0;
  return info.number_entry;
}

bool ZipArchive::ExtractEachInto(TemporaryFile& file, uint64_t maxMemberBytes) {
  if (handle_ == nullptr) return false;
  int status = unzGoToFirstFile(handle_);
  while (status == UNZ_OK) {
    if (!ExtractCurrentInto(file, maxMemberBytes)) return false;
    status = unzGoToNextFile(handle_);
  }
  return status == UNZ_END_OF_LIST_OF_FILE;
}

bool ZipArchive::ExtractCurrentInto(TemporaryFile& file, uint64_t maxMemberBytes) {
  unz_file_info64 info{};
  if (unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  if (info.uncompressed_size > maxMemberBytes) return false;
  if (!file.Truncate() || unzOpenCurrentFile(handle_) != UNZ_OK) return false;

  std::vector<uint8_t> chunk(64 * 1024);
  uint64_t total = 0;
  bool ok = true;
  for (;;) {
    const int got = unzReadCurrentFile(handle_, chunk.data(), static_cast<unsigned>(chunk.size()));
    if (got == 0) break;
    total += got > 0 ? static_cast<uint64_t>(got) : 0;
    // The size in the directory may lie; the data decides.
    if (got < 0 || total > maxMemberBytes || !file.Append(chunk.data(), static_cast<std::size_t>(got))) {
      ok = false;
      break;
    }
  }
  // Closing reports a CRC mismatch of a member read to its end.
  const int closed = unzCloseCurrentFile(handle_);
  return ok && closed == UNZ_OK;
}

std::optional<TemporaryFile> ExtractLastZipMember(const std::string& archive) {
  ZipArchive zip(archive);
  if (zip.MemberCount() == 0) return std::nullopt;
  std::optional<TemporaryFile> file = TemporaryFile::Create();
  if (!file || !zip.ExtractEachInto(*file)) return std::nullopt;
  return file;
}

}  // namespace ofs
