// Which drives may be flashed with the working (or an embedded) image, and which
// image goes to the selected drive.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/DriveLines.h"
#include "app/Mainflash.h"
#include "drive/IdentityText.h"
#include "firmware/Firmware.h"
#include "flash/Flashknl.h"

namespace ofs {
namespace {

constexpr char kUpdaterCorrupt[] = "Updater is corrupt !";
constexpr int kPioneerReadySeconds = 120;

}  // namespace

bool TMainForm::IsCandidate(int i) const {
  return updaterMode && !singleImage && bufferLoaded[i] && bufferImage[i] != nullptr;
}

int TMainForm::CandidateCount() const {
  int count = 0;
  for (int i = 0; i < 3; ++i) count += IsCandidate(i) ? 1 : 0;
  return count;
}

void TMainForm::ReleaseCandidate(int i) {
  bufferImage[i].reset();
  bufferLoaded[i] = false;
}

void TMainForm::AdoptCandidate(int i) {
  imageParameter = bufferParameter[i];
  ReplaceImage(bufferImageLength[i]);
  std::memcpy(imageBuffer.get(), bufferImage[i].get(), imageLength);
  ReleaseCandidate(i);
  // The embedded image is now the working one: no candidates remain to choose from.
  singleImage = true;
}

void TMainForm::AdoptFirstCandidate() {
  for (int i = 0; i < 3; ++i) {
    if (IsCandidate(i)) {
      AdoptCandidate(i);
      return;
    }
  }
}

std::optional<std::string> TMainForm::AcceptImages() {
  const int candidates = CandidateCount();
  if (candidates == 0) {
    auto rejected = CheckImageForDrive(errorMessages, imageBuffer.get(), imageLength, imageParameter, checkSumTest,
                                       availableModelTest, modelNameTable);
    if (rejected) return updaterMode ? std::string(kUpdaterCorrupt) : *rejected;
    return std::nullopt;
  }
  bufferImageCount = 0;
  for (int i = 0; i < 3; ++i) {
    if (!IsCandidate(i)) continue;
    if (CheckImageForDrive(errorMessages, bufferImage[i].get(), bufferImageLength[i], bufferParameter[i],
                           checkSumTest, availableModelTest, modelNameTable)) {
      ReleaseCandidate(i);
    } else {
      ++bufferImageCount;
    }
  }
  if (bufferImageCount == 0) return kUpdaterCorrupt;
  if (bufferImageCount == 1) AdoptFirstCandidate();
  return std::nullopt;
}

bool TMainForm::DriveFailsTest(const std::string& driveValue,
                               std::string (*imageValue)(const uint8_t*, std::size_t),
                               int expectedMismatches) const {
  if (expectedMismatches == 0) return driveValue != imageValue(imageBuffer.get(), imageLength);
  int mismatches = 0;
  for (int i = 0; i < 3; ++i) {
    if (IsCandidate(i) && driveValue != imageValue(bufferImage[i].get(), bufferImageLength[i])) ++mismatches;
  }
  return mismatches == expectedMismatches;
}

std::optional<std::string> TMainForm::DriveFitsImages(EDriveIndex d, int expectedMismatches, bool& fits) {
  fits = false;
  const std::string model = ReadModelName(s_.atapi, d);
  if (model.empty()) {
    unidentifiedDrives.push_back(d);
    fits = unidentifiedAllowed == d || readOnlyDrive == d;
    return std::nullopt;
  }
  if (IsPioneerModel(model) && !WaitDriveReady(s_.atapi, d, kPioneerReadySeconds)) return "Wait For Ready error";
  if (readOnlyDrive == d) {
    fits = true;
    return std::nullopt;
  }

  if (modelNameTest && DriveFailsTest(ReadModelName(s_.atapi, d), GetImageModelName, expectedMismatches)) {
    return std::nullopt;
  }
  if (hardwareIdTest && DriveFailsTest(ReadHardwareId(s_.atapi, d), GetImageHardwareId, expectedMismatches)) {
    return std::nullopt;
  }
  if (availableModelTest) {
    const std::string again = ReadModelName(s_.atapi, d);
    if (std::find(modelNameTable.begin(), modelNameTable.end(), again) == modelNameTable.end()) {
      return std::nullopt;
    }
  }
  fits = true;
  return std::nullopt;
}

std::optional<std::string> TMainForm::DiscoverDrives() {
  const int selected = s_.view.SelectedDriveItem();
  const std::string remembered = selected >= 0 ? s_.view.DriveText(selected).substr(0, kStatusWidth) : "";
  driveList.clear();
  unidentifiedDrives.clear();
  if (!updaterMode && !imageBuffer) return errorMessages[kMsgLoadOfsFail];

  if (!philipsImage) {
    if (auto rejected = AcceptImages()) return rejected;
  }
  const int expectedMismatches = CandidateCount();
  for (int d = 0; d < s_.atapi.driveCount; ++d) {
    if (!Reaches(d)) continue;
    const auto index = static_cast<EDriveIndex>(d);
    if (philipsImage) {
      driveList.push_back(index);
      continue;
    }
    bool fits = false;
    if (auto failure = DriveFitsImages(index, expectedMismatches, fits)) return failure;
    if (fits) driveList.push_back(index);
  }
  ListUnidentifiedDrives();
  if (driveList.empty()) return unidentifiedDrives.empty() ? "No matched devices !" : "Get Drive Modelname error";

  FillDriveList(remembered);
  return std::nullopt;
}

bool TMainForm::IsUnidentified(EDriveIndex d) const {
  return std::find(unidentifiedDrives.begin(), unidentifiedDrives.end(), d) != unidentifiedDrives.end();
}

std::string TMainForm::UnidentifiedLine(EDriveIndex d) const {
  return "(no identity) " + ShownName(s_.atapi.drives[d].devicePath);
}

// One drive that lost its identity must not hide the others: it is named, and the rest go on.
void TMainForm::ListUnidentifiedDrives() {
  if (silent) return;
  for (EDriveIndex d : unidentifiedDrives) {
    if (unidentifiedAllowed != d) s_.view.PostStatusLine("Drive " + std::to_string(d) + " " + UnidentifiedLine(d));
  }
}

void TMainForm::FillDriveList(const std::string& remembered) {
  s_.view.ClearDrives();
  for (EDriveIndex d : driveList)
    s_.view.AddDrive(IsUnidentified(d) ? UnidentifiedLine(d) : BuildDriveLine(s_.atapi, d, !updaterMode));

  int choice = 0;
  const auto preferred = preferredDrive ? std::find(driveList.begin(), driveList.end(), *preferredDrive)
                                        : driveList.end();
  if (preferred != driveList.end()) {
    choice = static_cast<int>(preferred - driveList.begin());
  } else if (!remembered.empty()) {
    for (int item = 0; item < static_cast<int>(driveList.size()); ++item) {
      if (s_.view.DriveText(item).substr(0, kModelWidth) == remembered.substr(0, kModelWidth)) {
        choice = item;
        break;
      }
    }
  }
  s_.view.SelectDriveItem(choice);
  s_.view.SetStatusText(s_.view.DriveText(choice).substr(0, kStatusWidth));
  s_.view.SetEnabled(Control::SelDevice, true);
}

std::optional<int> TMainForm::SelectedDriveEntry() {
  const int item = s_.view.SelectedDriveItem();
  if (item < 0 || item >= static_cast<int>(driveList.size())) return std::nullopt;
  return item;
}

std::optional<std::string> TMainForm::MatchFirmware() {
  s_.view.SetEdit2("");
  if (philipsImage) {
    s_.view.SetEdit1("ORVA    KZD-7740B");
    imageChecksum = ComputePhilipsCheckSum(imageBuffer.get(), imageLength);
    ShowChecksum();
    return std::nullopt;
  }
  if (CandidateCount() > 0) {
    const auto entry = SelectedDriveEntry();
    if (!entry) return "No matched devices !";
    const EDriveIndex d = driveList[*entry];
    bufferImageCount = 0;
    int chosen = -1;
    for (int i = 0; i < 3; ++i) {
      if (!IsCandidate(i)) continue;
      const uint8_t* image = bufferImage[i].get();
      const bool conforms = ReadModelName(s_.atapi, d) == GetImageModelName(image, bufferImageLength[i]) &&
                            ReadHardwareId(s_.atapi, d) == GetImageHardwareId(image, bufferImageLength[i]);
      if (conforms) {
        ++bufferImageCount;
        chosen = i;
      } else {
        ReleaseCandidate(i);
      }
    }
    if (bufferImageCount > 1) return "The number of conforming OFS are more than one.\n";
    if (bufferImageCount == 0) return "No conforming OFS";
    AdoptCandidate(chosen);
  }
  s_.view.SetEdit1(ImageLine());
  imageChecksum = ComputeFixedDataCheckSum(imageBuffer.get(), imageLength, imageParameter);
  ShowChecksum();
  return std::nullopt;
}

std::string TMainForm::ImageLine() const {
  const uint8_t* image = imageBuffer.get();
  const uint8_t type = imageParameter.AtapiFlashType;
  const std::string model = GetImageModelName(image, imageLength);
  std::string line = model + " " + GetImageFirmwareVersion(image, imageLength, type) + " ";
  if (!updaterMode && !IsPioneerModel(model)) line += GetImageInquiryExtension(image, imageLength, type);
  return line;
}

void TMainForm::ShowChecksum() {
  char text[8] = {};
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(imageChecksum));
  if (scratchBuffer) std::memcpy(scratchBuffer.get(), text, sizeof text);
  s_.view.SetEdit2(text);
}

}  // namespace ofs
