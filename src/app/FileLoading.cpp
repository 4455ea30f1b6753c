// The load button: a container file, or a zip archive whose last member is one,
// becomes the working image; discovery and matching follow.
#include <cstring>

#include "firmware/ImageSize.h"
#include "app/Mainflash.h"
#include "app/ZipArchive.h"
#include "params/Tool.h"

namespace ofs {
namespace {

constexpr char kNotValid[] = "Not Valid OFS !";
constexpr char kLengthError[] = "GetOFSLength Error!";
constexpr uint32_t kPhilipsLengthField = 4;
constexpr uint32_t kPhilipsOverhead = 44;

bool StartsWith(const std::vector<uint8_t>& bytes, const char* text) {
  const std::size_t n = std::strlen(text);
  return bytes.size() >= n && std::memcmp(bytes.data(), text, n) == 0;
}

// The file as the image parser expects it: Philips files get their length in front.
std::vector<uint8_t> WithPhilipsLength(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> out(file.size() + kPhilipsLengthField);
  const auto n = static_cast<uint32_t>(file.size());
  out[0] = static_cast<uint8_t>(n >> 24);
  out[1] = static_cast<uint8_t>(n >> 16);
  out[2] = static_cast<uint8_t>(n >> 8);
  out[3] = static_cast<uint8_t>(n);
  std::memcpy(out.data() + kPhilipsLengthField, file.data(), file.size());
  return out;
}

}  // namespace

void TMainForm::BitBtn1Click() {
  const std::string path = s_.view.AskOpenFile(kOpenDialogFilter);
  if (!path.empty()) LoadFirmwareFile(path);
}

void TMainForm::LoadFirmwareFile(const std::string& path) {
  if (GetFileLength(path) == 0) return ShowError("Get OFS File Length Fail !");
  // Only the kind is needed here, so only the first two bytes are read.
  std::vector<uint8_t> head(2, 0);
  if (!ReadFileBinary(path, 2, head.data())) return ShowError("ReadFileBinary Fail !");

  const bool container = StartsWith(head, "OR");
  ZipMember zip = container ? ZipMember{} : ExtractLastZipMember(path);
  if (!container && zip.result == ZipExtraction::NotValid) return ShowError(kNotValid);
  if (zip.result == ZipExtraction::NotWritten) {
    return ShowError("Cannot unpack the archive: no temporary file can be written in " + zip.folderProblem);
  }
  const bool tooLarge = zip.result == ZipExtraction::TooLarge;
  const std::string loadPath = zip.file ? zip.file->path() : path;

  s_.view.SetEnabled(Control::BitBtn2, false);
  const uint32_t length = tooLarge ? 0 : GetFileLength(loadPath);
  if (tooLarge || length > kMaxFileBytes) {
    // Its size alone rules the file (or the member, never unpacked) out: nothing is read or allocated.
    ReleaseImage();
    return ShowError(kLengthError);
  }
  if (length == 0) return ShowError("GetFileLength Error!");
  std::vector<uint8_t> bytes(length, 0);
  if (!ReadFileBinary(loadPath, length, bytes.data())) return ShowError("ReadFileBinary");
  zip.file.reset();

  if (auto message = LoadImageBytes(std::move(bytes))) return ShowError(*message);
  imageFile = path;
  if (auto message = DiscoverDrives()) return ShowError(*message);
  if (auto message = MatchFirmware()) return ShowError(*message);
  s_.view.SetEnabled(Control::BitBtn2, true);
  s_.view.SetVisible(Control::Edit1, true);
}

std::optional<std::string> TMainForm::LoadImageBytes(std::vector<uint8_t> bytes) {
  philipsImage = StartsWith(bytes, "Philips");
  if (philipsImage) {
    bytes = WithPhilipsLength(bytes);
    // Anything not longer than the name and trailer carries no body.
    const auto total = static_cast<uint32_t>(bytes.size());
    imageLength = total > kPhilipsOverhead ? total - kPhilipsOverhead : 0;
    if (imageLength > kMaxImageBytes) imageLength = 0;
  } else {
    imageLength = PlausibleImageSize(bytes.data(), bytes.size());
  }
  if (imageLength == 0) {
    // The earlier image goes too: no buffer is left that imageLength does not describe.
    ReleaseImage();
    return kLengthError;
  }

  ReplaceImage(imageLength);
  imageParameter = SOFSParameter{};
  if (!ParseFirmwareImage(bytes.data(), bytes.size(), imageParameter, imageBuffer.get(), imageLength)) {
    ReleaseImage();
    return kNotValid;
  }
  return std::nullopt;
}

void TMainForm::ReplaceImage(uint32_t length) {
  imageLength = length;
  imageBuffer = std::make_unique<uint8_t[]>(length);
}

void TMainForm::ReleaseImage() {
  imageBuffer.reset();
  imageLength = 0;
  imageParameter = SOFSParameter{};
}

}  // namespace ofs
