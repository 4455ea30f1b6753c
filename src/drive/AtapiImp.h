#pragma once
// The one transport object: the drive table, the current target, status and sense.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "drive/Clock.h"
#include "drive/CommandTrace.h"  // complete: callers build the defaulted trace argument
#include "drive/TransportBackend.h"

namespace ofs {

struct AtapiDriveEntry {
  std::string devicePath;
  std::string identification;  // vendor + product, 24 characters
  std::string revision;        // 4 characters
  CommandFilter filter = CommandFilter::None;
  uint32_t maxTransfer = 0;  // bytes per command the path carries; 0: not known
  std::string transport;     // "ata", "usb", "scsi" or "sim"
  std::string bridge;        // a USB bridge's "vendor:product" IDs
};

class TAtapiImp {
 public:
  static constexpr int kMaxDrives = 20;

  // useSpti: the platform's family (true on NT and on Linux). clock serves every wait
  // above the transport. trace may be null.
  TAtapiImp(std::unique_ptr<TransportBackend> backend, Clock& clock, bool useSpti,
            std::shared_ptr<CommandTrace> trace = nullptr);
  ~TAtapiImp();
  TAtapiImp(const TAtapiImp&) = delete;
  TAtapiImp& operator=(const TAtapiImp&) = delete;

  // A second handle on the same drives for another thread: its own table, target,
  // status and hold, the same trace. Null when the back end cannot give one.
  // Make every handle before any thread sends a command.
  std::unique_ptr<TAtapiImp> Share();

  void SelectDrive(int index);
  TransportStatus ExecuteCommand(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction);
  // Copies the sense of the last command and returns its byte 2, unmasked.
  uint8_t GetSenseData(uint8_t* out18) const;
  // The last command certainly did not reach the drive's flash: the drive answered
  // ILLEGAL REQUEST or NOT READY without medium (02/3A), or the kernel refused it
  // (EPERM, EACCES, ENODEV, EINVAL, EIO).
  bool LastCommandRefused() const;
  // A command found the selected drive gone from the system; none is sent to it after that.
  bool DriveGone() const { return driveGone_; }
  // The drive itself answered the last command with ILLEGAL REQUEST.
  bool LastCommandRejectedByDrive() const;
  // Why the table is empty, for a person to act on (may be empty).
  std::string WhyNoDrive() const { return backend_->WhyNoDrive(); }
  // Whether the path to drive `index` lets this process send `opcode`.
  bool CanSend(int index, uint8_t opcode) const;

  // Takes drive `index` for this process alone until ReleaseDrive (one hold at
  // a time). Empty on success, else why not, naming the drive.
  std::string ClaimDrive(int index);
  void ReleaseDrive();
  // A line for the command trace that is not a command.
  void Note(const std::string& text) const {
    if (trace_) trace_->Note(text);
  }

  // Commands that may have changed a drive's flash and were not refused: data
  // going out, or WRITE BUFFER saving what was sent. Zero means every drive's
  // flash is as it was.
  int writesReached = 0;
  // Told, before each command goes out, whether it writes (as writesReached counts).
  // A watcher that throws keeps the command from going out.
  std::function<void(bool writes)> beforeCommand;

  // Whether the ready waits watch the terminal for Esc; the terminal has one
  // key mode, so only one thread of the process may.
  bool escapeEndsWaits = true;
  // How the program ends when the user leaves a ready wait with Esc.
  int userAbortExitCode = 0;
  std::string userAbortNotice;  // written to stderr first when not empty

  int currentDrive = 0;
  bool useSpti = true;
  int driveCount = 0;
  std::array<AtapiDriveEntry, kMaxDrives> drives{};

  Clock& clock() { return clock_; }

 private:
  std::unique_ptr<Clock> ownClock_;  // a shared handle's own time, when its back end gives one
  std::unique_ptr<TransportBackend> backend_;
  Clock& clock_;
  std::shared_ptr<CommandTrace> trace_;
  SenseData sense_{};
  TransportStatus lastStatus_ = kStatusGood;
  int lastErrno_ = 0;
  bool driveGone_ = false;
  std::unique_ptr<DriveHold> hold_;  // last: released before the trace it writes its last note to
};

}  // namespace ofs
