#pragma once
// Reading a zip archive that carries a firmware container (minizip).
#include <cstdint>
#include <optional>
#include <string>

#include "firmware/ImageSize.h"
#include "app/TemporaryFile.h"

namespace ofs {

class ZipArchive {
 public:
  explicit ZipArchive(const std::string& path);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // 0 also when the file is not a zip archive.
  uint64_t MemberCount() const;
  // Writes every member in index order into `file`, each replacing the one before,
  // so the last member is what remains. False on a damaged, encrypted or oversized member:
  // a member larger than any firmware file must not fill the disk.
  bool ExtractEachInto(TemporaryFile& file, uint64_t maxMemberBytes = kMaxFileBytes);

 private:
  bool ExtractCurrentInto(TemporaryFile& file, uint64_t maxMemberBytes);
  void* handle_ = nullptr;  // minizip's unzFile
};

// The archive's members unpacked in order into a private temporary file, the last
// one remaining; nothing when the archive has no member or one cannot be unpacked.
std::optional<TemporaryFile> ExtractLastZipMember(const std::string& archive);

}  // namespace ofs
