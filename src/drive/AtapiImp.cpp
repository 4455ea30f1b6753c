#include "drive/AtapiImp.h"

#include <algorithm>

#include "drive/CommandTrace.h"

namespace ofs {

TAtapiImp::TAtapiImp(std::unique_ptr<TransportBackend> backend, Clock& clock, bool useSpti,
                     std::unique_ptr<CommandTrace> trace)
    : useSpti(useSpti), backend_(std::move(backend)), clock_(clock), trace_(std::move(trace)) {
  // Drives past the table are left out rather than written past its end.
  for (const BackendDrive& found : backend_->Enumerate()) {
    if (driveCount == kMaxDrives) break;
    drives[driveCount] = {found.devicePath, found.identification, found.revision, found.flashCommandsAllowed};
    ++driveCount;
  }
  // Selecting a drive that does not exist would leave the back end pointing nowhere.
  if (driveCount > 0) SelectDrive(0);
  currentDrive = 0;
}

TAtapiImp::~TAtapiImp() = default;

void TAtapiImp::SelectDrive(int index) {
  if (index < 0 || index >= driveCount) return;
  backend_->Select(index);
  currentDrive = index;
}

TransportStatus TAtapiImp::ExecuteCommand(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction) {
  sense_.fill(0);
  const TransportStatus status = backend_->Execute(cdb, buffer, length, direction, sense_);
  if (trace_) trace_->Record(currentDrive, cdb, buffer, length, direction, status, sense_);
  return status;
}

uint8_t TAtapiImp::GetSenseData(uint8_t* out18) const {
  std::copy(sense_.begin(), sense_.end(), out18);
  return sense_[2];
}

}  // namespace ofs
