#include "app/ZipArchive.h"

#include <unzip.h>

#include <cerrno>
#include <cstring>
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

// Walks the directory to its end rather than trusting its count, and comes back to the
// last entry that read well.
bool ZipArchive::GoToLastMember() {
  if (handle_ == nullptr || unzGoToFirstFile(handle_) != UNZ_OK) return false;
  unz64_file_pos last{};
  int status = UNZ_OK;
  while (status == UNZ_OK) {
    if (unzGetFilePos64(handle_, &last) != UNZ_OK) return false;
    status = unzGoToNextFile(handle_);
  }
  return status == UNZ_END_OF_LIST_OF_FILE && unzGoToFilePos64(handle_, &last) == UNZ_OK;
}

ZipExtraction ZipArchive::ExtractLastInto(TemporaryFile& file, uint64_t maxMemberBytes) {
  unz_file_info64 info{};
  if (!GoToLastMember() || unzGetCurrentFileInfo64(handle_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return ZipExtraction::NotValid;
  }
  if (info.uncompressed_size > maxMemberBytes) return ZipExtraction::TooLarge;
  if (unzOpenCurrentFile(handle_) != UNZ_OK) return ZipExtraction::NotValid;

  std::vector<uint8_t> chunk(64 * 1024);
  uint64_t total = 0;
  ZipExtraction result = ZipExtraction::Extracted;
  for (;;) {
    const int got = unzReadCurrentFile(handle_, chunk.data(), static_cast<unsigned>(chunk.size()));
    if (got == 0) break;
    if (got < 0) {
      result = ZipExtraction::NotValid;
      break;
    }
    total += static_cast<uint64_t>(got);
    // The size in the directory may lie; the data decides.
    if (total > maxMemberBytes) {
      result = ZipExtraction::TooLarge;
      break;
    }
    if (!file.Append(chunk.data(), static_cast<std::size_t>(got))) {
      result = ZipExtraction::NotWritten;
      break;
    }
  }
  const int writeError = errno;
  // Closing reports a CRC mismatch of a member read to its end.
  const int closed = unzCloseCurrentFile(handle_);
  errno = writeError;
  if (result == ZipExtraction::Extracted && closed != UNZ_OK) return ZipExtraction::NotValid;
  return result;
}

ZipMember ExtractLastZipMember(const std::string& archive) {
  ZipMember member;
  ZipArchive zip(archive);
  if (zip.MemberCount() == 0) return member;
  std::optional<TemporaryFile> file = TemporaryFile::Create();
  member.result = file ? zip.ExtractLastInto(*file) : ZipExtraction::NotWritten;
  if (member.result == ZipExtraction::NotWritten) {
    member.folderProblem = TemporaryFile::Folder() + ": " + std::strerror(errno);
  }
  if (member.result == ZipExtraction::Extracted) member.file.emplace(std::move(*file));
  return member;
}

}  // namespace ofs
