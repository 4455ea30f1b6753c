#pragma once
// Reading a zip archive that carries a firmware container (minizip).
#include <cstdint>
#include <optional>
#include <string>

#include "firmware/ImageSize.h"
#include "app/TemporaryFile.h"

namespace ofs {

enum class ZipExtraction {
  Extracted,
  NotValid,    // no member, or the last one is damaged or encrypted
  TooLarge,    // the last member is larger than any firmware file: it must not fill the disk
  NotWritten,  // the temporary file could not take it (errno tells why)
};

class ZipArchive {
 public:
  explicit ZipArchive(const std::string& path);
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // 0 also when the file is not a zip archive.
  uint64_t MemberCount() const;
  // Writes the last member into `file`. Only the last one is loaded, so the members before
  // it are not unpacked at all: one of them that is damaged cannot fail the load.
  ZipExtraction ExtractLastInto(TemporaryFile& file, uint64_t maxMemberBytes = kMaxFileBytes);

 private:
  bool GoToLastMember();
  void* handle_ = nullptr;  // minizip's unzFile
};

struct ZipMember {
  ZipExtraction result = ZipExtraction::NotValid;
  std::optional<TemporaryFile> file;  // Extracted: the member, unpacked
  std::string folderProblem;          // NotWritten: the temporary folder and why it took nothing
};

// The archive's last member unpacked into a private temporary file.
ZipMember ExtractLastZipMember(const std::string& archive);

}  // namespace ofs
