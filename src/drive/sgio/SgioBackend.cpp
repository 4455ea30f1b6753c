#include "drive/sgio/SgioBackend.h"

#include <fcntl.h>

#include <algorithm>
#include <array>

#include "drive/IdentityText.h"
#include "drive/sgio/SenseFormat.h"
#include "drive/sgio/SgioFactory.h"
#include "drive/sgio/SysfsScan.h"

namespace ofs {
namespace {

constexpr uint8_t kInquiryLength = 36;
constexpr uint8_t kDriverStatusMask = 0x0F;  // the upper bits are only suggestions
constexpr uint8_t kDriverSense = 0x08;

int ToSgDirection(uint8_t direction, uint32_t length) {
  if (length == 0) return SG_DXFER_NONE;
  if (direction == kDirIn) return SG_DXFER_FROM_DEV;
  if (direction == kDirOut) return SG_DXFER_TO_DEV;
  return SG_DXFER_NONE;
}

TransportStatus StatusOf(int ioctlResult, const sg_io_hdr_t& request) {
  if (ioctlResult < 0) return kStatusTransportError;
  const uint8_t driverError = request.driver_status & kDriverStatusMask;
  // Time-out, lost connection, reset: the command's own status means nothing then.
  if (request.host_status != 0 || (driverError != 0 && driverError != kDriverSense)) return kStatusTransportError;
  const uint8_t scsiStatus = request.status != 0 ? request.status : static_cast<uint8_t>(request.masked_status << 1);
  return scsiStatus == 0 ? kStatusGood : scsiStatus;
}

}  // namespace

SgioBackend::SgioBackend(std::unique_ptr<SgSystem> system, SgioPaths paths)
    : system_(std::move(system)), paths_(std::move(paths)) {}

SgioBackend::~SgioBackend() { CloseAll(); }

void SgioBackend::CloseAll() {
  for (int fd : fds_) system_->Close(fd);
  fds_.clear();
  selected_ = -1;
}

// Non-blocking: a blocking open of a drive with a disc locks its door.
SgioBackend::OpenNode SgioBackend::OpenDrive(const std::string& sgName, const std::string& srName) {
  constexpr int kFlags = O_RDWR | O_NONBLOCK;
  if (!sgName.empty()) {
    const std::string path = paths_.devRoot + "/" + sgName;
    const int fd = system_->Open(path, kFlags);
    // A read-write sg node passes WRITE BUFFER and vendor opcodes to the drive.
    if (fd >= 0) return {fd, path, true};
  }
  if (!srName.empty()) {
    const std::string path = paths_.devRoot + "/" + srName;
    const int fd = system_->Open(path, kFlags);
    // The block layer filters those opcodes on sr unless the caller holds CAP_SYS_RAWIO.
    if (fd >= 0) return {fd, path, system_->HasRawIoCapability()};
  }
  return {};
}

BackendDrive SgioBackend::Identify(const OpenNode& node) {
  static constexpr uint8_t kInquiry[12] = {0x12, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0, 0, 0};
  std::array<uint8_t, kInquiryLength> reply{};
  SenseData sense{};
  ExecuteOn(node.fd, kInquiry, reply.data(), kInquiryLength, kDirIn, sense);
  return {node.path, IdentityText(&reply[8], 24), IdentityText(&reply[32], 4), node.flashCommandsAllowed};
}

std::vector<BackendDrive> SgioBackend::Enumerate() {
  CloseAll();
  std::vector<BackendDrive> drives;
  for (const ScsiCdDevice& device : FindScsiCdDevices(paths_.sysfsRoot)) {
    const OpenNode node = OpenDrive(device.sgName, device.srName);
    if (node.fd < 0) continue;
    fds_.push_back(node.fd);
    drives.push_back(Identify(node));
  }
  return drives;
}

void SgioBackend::Select(int index) { selected_ = index >= 0 && index < static_cast<int>(fds_.size()) ? index : -1; }

TransportStatus SgioBackend::Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                                     SenseData& sense) {
  sense.fill(0);
  if (selected_ < 0) return kStatusTransportError;
  return ExecuteOn(fds_[selected_], cdb, buffer, length, direction, sense);
}

TransportStatus SgioBackend::ExecuteOn(int fd, const uint8_t* cdb, uint8_t* buffer, uint32_t length,
                                       uint8_t direction, SenseData& sense) {
  std::array<uint8_t, 12> command{};
  std::copy(cdb, cdb + command.size(), command.begin());
  std::array<uint8_t, kSenseBufferLength> senseBuffer{};
  sg_io_hdr_t request{};
  request.interface_id = 'S';
  request.cmd_len = command.size();
  request.cmdp = command.data();
  // Without a buffer there is nothing to move, whatever the length says.
  request.dxfer_direction = ToSgDirection(direction, buffer != nullptr ? length : 0);
  if (request.dxfer_direction != SG_DXFER_NONE) {
    request.dxfer_len = length;
    request.dxferp = buffer;
  }
  request.mx_sb_len = senseBuffer.size();
  request.sbp = senseBuffer.data();
  request.timeout = kTimeoutMs;
  const int result = system_->SgIo(fd, request);
  const TransportStatus status = StatusOf(result, request);
  if (result >= 0) sense = ToFixedSense(senseBuffer.data(), std::min<std::size_t>(request.sb_len_wr, senseBuffer.size()));
  return status;
}

std::unique_ptr<TransportBackend> MakeSgioBackend() {
  return std::make_unique<SgioBackend>(MakeLinuxSgSystem(), SgioPaths{});
}

}  // namespace ofs
