#include "drive/AtapiImp.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "drive/CommandTrace.h"

namespace ofs {

TAtapiImp::TAtapiImp(std::unique_ptr<TransportBackend> backend, Clock& clock, bool useSpti,
                     std::shared_ptr<CommandTrace> trace)
    : useSpti(useSpti), backend_(std::move(backend)), clock_(clock), trace_(std::move(trace)) {
  // Drives past the table are left out rather than written past its end.
  for (const BackendDrive& found : backend_->Enumerate()) {
    if (driveCount == kMaxDrives) break;
    drives[driveCount] = {found.devicePath, found.identification, found.revision, found.filter,
                          found.maxTransfer,  found.transport,      found.bridge};
    ++driveCount;
  }
  // Selecting a drive that does not exist would leave the back end pointing nowhere.
  if (driveCount > 0) SelectDrive(0);
  currentDrive = 0;
}

TAtapiImp::~TAtapiImp() = default;

std::unique_ptr<TAtapiImp> TAtapiImp::Share() {
  SharedBackend shared = backend_->Share();
  if (!shared.backend) return nullptr;
  Clock& clock = shared.clock ? *shared.clock : clock_;
  auto handle = std::make_unique<TAtapiImp>(std::move(shared.backend), clock, useSpti, trace_);
  handle->ownClock_ = std::move(shared.clock);
  return handle;
}

void TAtapiImp::SelectDrive(int index) {
  if (index < 0 || index >= driveCount) return;
  backend_->Select(index);
  currentDrive = index;
  driveGone_ = false;
}

TransportStatus TAtapiImp::ExecuteCommand(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction) {
  // A WRITE BUFFER that switches download mode (mode 1) or saves or programs what was sent
  // (mode 7) changes the drive without data.
  constexpr uint8_t kWriteBuffer = 0x3B, kModeDownload = 0x01, kModeSave = 0x07;
  const uint8_t mode = cdb[1] & 0x1F;
  const bool writes =
      (direction == kDirOut && length > 0) || (cdb[0] == kWriteBuffer && (mode == kModeDownload || mode == kModeSave));
  if (beforeCommand) beforeCommand(writes);
  sense_.fill(0);
  if (driveGone_) {
    // Nothing can reach a drive that has left the system; its node may by now be another's.
    lastStatus_ = kStatusTransportError;
    lastErrno_ = ENODEV;
    return lastStatus_;
  }
  lastStatus_ = backend_->Execute(cdb, buffer, length, direction, sense_);
  lastErrno_ = lastStatus_ == kStatusGood ? 0 : backend_->LastSystemError();
  driveGone_ = driveGone_ || (lastStatus_ == kStatusTransportError && backend_->LastDriveGone());
  if (trace_) trace_->Record(currentDrive, cdb, buffer, length, direction, lastStatus_, sense_, lastErrno_);
  if (writes && !LastCommandRefused()) ++writesReached;
  return lastStatus_;
}

bool TAtapiImp::LastCommandRejectedByDrive() const {
  return lastStatus_ == kStatusCheckCondition && (sense_[2] & 0x0F) == 0x05;
}

bool TAtapiImp::LastCommandRefused() const {
  // A drive that reports no medium did not perform the command either: some answer so
  // to every vendor command while their tray is empty.
  if (lastStatus_ == kStatusCheckCondition)
    return LastCommandRejectedByDrive() || ((sense_[2] & 0x0F) == 0x02 && sense_[12] == 0x3A);
  if (lastStatus_ != kStatusTransportError) return false;
  // A time-out or a reset may have come after the data went out; these errors come before.
  switch (lastErrno_) {
    case EPERM:
    case EACCES:
    case ENODEV:
    case EINVAL:
    case EIO:
      return true;
    default:
      return false;
  }
}

bool TAtapiImp::CanSend(int index, uint8_t opcode) const {
  return index >= 0 && index < driveCount && FilterPasses(drives[index].filter, opcode);
}

std::string TAtapiImp::ClaimDrive(int index) {
  ReleaseDrive();
  if (index < 0 || index >= driveCount) return "There is no drive " + std::to_string(index) + ".";
  CommandTrace* trace = trace_.get();
  HoldResult result = backend_->Hold(index, [trace](const std::string& note) {
    if (trace) trace->Note(note);
  });
  hold_ = std::move(result.hold);
  return hold_ ? std::string() : result.error;
}

void TAtapiImp::ReleaseDrive() { hold_.reset(); }

uint8_t TAtapiImp::GetSenseData(uint8_t* out18) const {
  std::copy(sense_.begin(), sense_.end(), out18);
  return sense_[2];
}

}  // namespace ofs
