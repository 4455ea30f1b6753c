#include "ofstool/DriveBackup.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "drive/IdentityText.h"
#include "firmware/Firmware.h"
#include "flash/FlashContext.h"
#include "flash/FlashSteps.h"
#include "flash/Verify.h"
#include "firmware/OfsBuilder.h"
#include "ofstool/SenseText.h"
#include "params/Tool.h"
#include "system/StopSignals.h"

namespace ofstool {
namespace {

struct StoppedReading {};

// ReadRomData names the bank with one byte.
constexpr uint64_t kReadReach = 256 * uint64_t{ofs::kBankSize};

// The header of the image the layout comes from, with a plain body: an OFS3 header
// holds every value a legacy one does, and a plain body needs no key.
ofs::build::OfsLayout LayoutOf(const ofs::SOFSParameter& like) {
  ofs::build::OfsLayout layout;
  layout.version = '3';
  layout.scrambled = false;
  layout.ideFlashType = like.IdeFlashType;
  layout.atapiFlashType = like.AtapiFlashType;
  layout.kernelType = like.AtapiFlashKernelType;
  layout.keyParameters = {};
  layout.slotSize = like.MaxBankSize;
  layout.bankSizes = like.BankSizes;
  for (const ofs::SOFSReserveBlock& block : like.ReservedBlocks)
    layout.reservedBlocks.emplace_back(block.Address, block.Length);
  layout.kernelAddress = like.KernelBlockAddress;
  layout.kernelLength = like.KernelBlockLength;
  return layout;
}

}  // namespace

std::vector<uint8_t> ReadDriveFirmware(const BackupRequest& request, ofs::TAtapiImp& atapi, ofs::MainView& view,
                                       std::string& error) {
  if (request.philips) {
    error = "a Philips image has no bank layout to read the flash over; give an OFS image of this drive";
    return {};
  }
  const ofs::SOFSParameter& like = request.like;
  const bool banksFit = std::all_of(like.BankSizes.begin(), like.BankSizes.end(),
                                    [&](uint32_t size) { return size <= like.MaxBankSize; });
  if (!banksFit || uint64_t{like.MaxBankSize} * like.BankSizes.size() != request.imageLength) {
    error = "the image's bank layout does not describe its flat image";
    return {};
  }
  if (request.imageLength == 0 || request.imageLength > kReadReach) {
    error = "the image's layout covers " + std::to_string(request.imageLength) +
            " bytes of flash; a backup reads from 1 byte up to 16 MiB";
    return {};
  }
  // One buffer: room for the header, then the flat image as read; the banks then move
  // down behind the header.
  const ofs::build::OfsLayout layout = LayoutOf(like);
  const std::size_t headerLength = ofs::build::BuildOfsHeader(layout, like.BankSizes, 0).size();
  std::vector<uint8_t> container(headerLength + ofs::CeilDiv(request.imageLength, 256) * 256, 0);
  uint8_t* flat = container.data() + headerLength;
  ofs::SenseData sense{};
  ofs::FlashContext ctx{atapi, view, nullptr, request.imageLength, like, 0, sense, true, false};
  view.SetProgress(0);
  if (!ofs::ReadBackImage(ctx, request.drive, flat)) {
    error = "drive " + std::to_string(request.drive) + " does not answer ReadRomData, the command that reads its " +
            "flash (sense " + SenseOfLastCommand(atapi) + "), so its firmware cannot be saved";
    return {};
  }
  // Past its length a bank's slot parses as zeros: the header checksum is the sum of
  // that flat image.
  for (std::size_t i = 0; i < like.BankSizes.size(); ++i)
    std::fill(flat + i * like.MaxBankSize + like.BankSizes[i], flat + (i + 1) * like.MaxBankSize, uint8_t{0});
  const auto checksum = static_cast<uint16_t>(ofs::ComputeImageCheckSum(flat, request.imageLength, like));
  std::size_t end = headerLength;
  for (std::size_t i = 0; i < like.BankSizes.size(); ++i) {
    std::memmove(container.data() + end, flat + i * like.MaxBankSize, like.BankSizes[i]);
    end += like.BankSizes[i];
  }
  container.resize(end);
  const std::vector<uint8_t> header = ofs::build::BuildOfsHeader(layout, like.BankSizes, checksum);
  std::copy(header.begin(), header.end(), container.begin());
  return container;
}

BackupOutcome BackUpDrive(const BackupRequest& request, ofs::TAtapiImp& atapi, ofs::MainView& view) {
  const std::string& path = request.path;
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    return {false, "ofstool: " + path + " already exists, and a backup never replaces a file: it may be the only " +
                       "copy of a drive's firmware. Name a new file."};
  }
  if (const std::string busy = atapi.ClaimDrive(request.drive); !busy.empty()) return {false, busy};
  std::string error;
  std::vector<uint8_t> container;
  // A stop signal ends the read at the next command, and nothing is saved: a backup cut
  // short must never pass for the drive's firmware.
  atapi.beforeCommand = [](bool) {
    if (ofs::CaughtStopSignal() != 0) throw StoppedReading{};
  };
  try {
    container = ReadDriveFirmware(request, atapi, view, error);
  } catch (const StoppedReading&) {
    error = "stopped by " + ofs::StopName(ofs::CaughtStopSignal()) + " while the drive's flash was read";
  }
  atapi.beforeCommand = nullptr;
  atapi.ReleaseDrive();
  if (container.empty()) return {false, "ofstool: no backup: " + error + ". " + path + " was not created."};
  if (!ofs::WriteFileBinary(path, container.data(), container.size())) {
    return {false, "ofstool: cannot write " + path + ": " + std::strerror(errno) + ". No backup was saved."};
  }
  const ofs::AtapiDriveEntry& entry = atapi.drives[request.drive];
  return {true, "Saved the firmware of drive " + std::to_string(request.drive) + " (" +
                    ofs::ShownField(entry.identification) + " " + ofs::ShownField(entry.revision) + ") to " + path +
                    "; 'ofstool flash " + path + "' writes it back."};
}

}  // namespace ofstool
