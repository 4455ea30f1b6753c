#include "drive/sgio/SgioBackend.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "drive/IdentityText.h"
#include "drive/sgio/SenseFormat.h"
#include "drive/sgio/SgDriveHold.h"
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
  for (const OpenNode& node : nodes_) {
    if (node.fd >= 0) system_->Close(node.fd);
  }
  nodes_.clear();
  selected_ = -1;
}

// Non-blocking: a blocking open of a drive with a disc locks its door.
SgioBackend::OpenNode SgioBackend::OpenDrive(const std::string& sgName, const std::string& srName) {
  constexpr int kFlags = O_RDWR | O_NONBLOCK;
  if (!sgName.empty()) {
    const std::string path = paths_.devRoot + "/" + sgName;
    const int fd = system_->Open(path, kFlags);
    // A read-write sg node passes WRITE BUFFER and vendor opcodes to the drive.
    if (fd >= 0) return {fd, path, true, CommandFilter::None, sgName, srName};
  }
  if (!srName.empty()) {
    const std::string path = paths_.devRoot + "/" + srName;
    const int fd = system_->Open(path, kFlags);
    // The block layer filters those opcodes on sr unless the caller holds CAP_SYS_RAWIO.
    const CommandFilter filter =
        system_->HasRawIoCapability() ? CommandFilter::None : CommandFilter::KernelSafeList;
    if (fd >= 0) return {fd, path, false, filter, sgName, srName};
  }
  return {};
}

BackendDrive SgioBackend::Identify(OpenNode& node) {
  static constexpr uint8_t kInquiry[12] = {0x12, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0, 0, 0};
  std::array<uint8_t, kInquiryLength> reply{};
  SenseData sense{};
  ExecuteOn(node, kInquiry, reply.data(), kInquiryLength, kDirIn, sense);
  return {node.path, IdentityText(&reply[8], 24), IdentityText(&reply[32], 4), node.filter};
}

std::vector<BackendDrive> SgioBackend::Enumerate() {
  CloseAll();
  std::vector<BackendDrive> drives;
  for (const ScsiCdDevice& device : FindScsiCdDevices(paths_.sysfsRoot)) {
    OpenNode node = OpenDrive(device.sgName, device.srName);
    if (node.fd < 0) continue;
    nodes_.push_back(node);
    BackendDrive drive = Identify(nodes_.back());
    drive.transport = device.transport;
    drive.bridge = device.bridge;
    // The block node's queue says it where there is one; the sg driver says it for its node.
    drive.maxTransfer = device.maxTransferKb != 0 ? device.maxTransferKb * 1024
                        : node.generic          ? system_->MaxTransferBytes(node.fd)
                                                : 0;
    drives.push_back(std::move(drive));
  }
  return drives;
}

void SgioBackend::Select(int index) {
  selected_ = index >= 0 && index < static_cast<int>(nodes_.size()) ? index : -1;
}

TransportStatus SgioBackend::Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                                     SenseData& sense) {
  sense.fill(0);
  lastErrno_ = 0;
  if (selected_ < 0) return kStatusTransportError;
  OpenNode& node = nodes_[selected_];
  gone_ = false;
  if (node.fd < 0) {
    // Closed after a reply that could not be collected; gone when its node went too.
    lastErrno_ = ENODEV;
    gone_ = !system_->Exists(node.path);
    return kStatusTransportError;
  }
  return ExecuteOn(node, cdb, buffer, length, direction, sense);
}

HoldResult SgioBackend::Hold(int index, const TraceNote& note) {
  if (index < 0 || index >= static_cast<int>(nodes_.size())) return {nullptr, "There is no such drive."};
  const OpenNode& node = nodes_[index];
  return HoldSgDrive(*system_, paths_, {index, node.path, node.sgName, node.srName}, note);
}

// A submitted command is never sent again: an interrupted wait waits on for
// the same reply. The kernel copies data and sense into the command's buffers
// only when its reply is read, so a reply that cannot be collected closes the
// node: it can then never land in memory that serves something else by now.
int SgioBackend::SubmitAndCollect(OpenNode& node, sg_io_hdr_t& request) {
  request.pack_id = ++packId_;
  ssize_t written;
  // A failed write() submitted nothing, so trying it again sends nothing twice.
  do {
    written = system_->Write(node.fd, request);
  } while (written < 0 && errno == EINTR);
  if (written < 0) return -1;
  for (;;) {
    system_->Poll(node.fd, -1);  // interrupted or not, the read tells whether the reply is there
    const ssize_t got = system_->Read(node.fd, request);
    if (got >= 0 && request.pack_id == packId_) return 0;
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    const int error = got < 0 ? errno : EIO;
    system_->Close(node.fd);
    node.fd = -1;
    errno = error;
    return -1;
  }
}

TransportStatus SgioBackend::ExecuteOn(OpenNode& node, const uint8_t* cdb, uint8_t* buffer, uint32_t length,
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
  // SG_IO on a block node waits without being interruptible; on sg it is not, so sg
  // commands go through the driver's write()/read() interface instead.
  const int result = node.generic ? SubmitAndCollect(node, request) : system_->SgIo(node.fd, request);
  if (result < 0) lastErrno_ = errno;
  const TransportStatus status = StatusOf(result, request);
  constexpr unsigned kNoConnect = 0x01;  // the host's DID_NO_CONNECT: no device answers at that address
  gone_ = result < 0 ? (lastErrno_ == ENODEV || lastErrno_ == ENXIO || !system_->Exists(node.path))
                     : request.host_status == kNoConnect;
  if (result >= 0) sense = ToFixedSense(senseBuffer.data(), std::min<std::size_t>(request.sb_len_wr, senseBuffer.size()));
  return status;
}

// None in sysfs, or drives this user may not open, and what to do about it.
std::string SgioBackend::WhyNoDrive() const {
  const std::vector<ScsiCdDevice> devices = FindScsiCdDevices(paths_.sysfsRoot);
  if (devices.empty()) return "This machine has no CD/DVD drive that the kernel knows of.";
  std::string nodes;
  for (const ScsiCdDevice& device : devices) {
    for (const std::string& name : {device.sgName, device.srName}) {
      if (!name.empty()) nodes += (nodes.empty() ? "/dev/" : ", /dev/") + name;
    }
  }
  return std::to_string(devices.size()) + " CD/DVD drive(s) found (" + nodes +
         "), but this user may not open them. Flashing needs the drive's /dev/sg* node: seat access (the "
         "drives of your desktop session's seat), group cdrom (sudo usermod -aG cdrom $USER, then log in "
         "again), or, without any /dev/sg* node, sudo modprobe sg. See \"Running without root\" in the README.";
}

SharedBackend SgioBackend::Share() {
  std::unique_ptr<SgSystem> system = system_->Another();
  if (!system) return {};
  return {std::make_unique<SgioBackend>(std::move(system), paths_), nullptr};
}

std::unique_ptr<TransportBackend> MakeSgioBackend() {
  return std::make_unique<SgioBackend>(MakeLinuxSgSystem(), SgioPaths{});
}

}  // namespace ofs
