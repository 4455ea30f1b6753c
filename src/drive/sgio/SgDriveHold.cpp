#include "drive/sgio/SgDriveHold.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "drive/DriveBusy.h"

namespace ofs {
namespace {

std::string Reason(int error) { return std::strerror(error); }

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Writes the whole text, or returns the error number.
int WriteFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return errno;
  const ssize_t written = ::write(fd, text.data(), text.size());
  const int error = written == static_cast<ssize_t>(text.size()) ? 0 : (written < 0 ? errno : EIO);
  ::close(fd);
  return error;
}

// Opens the shared lock file, creating it for everyone. A file another user
// made is opened without O_CREAT: protected_regular refuses O_CREAT on it in a
// sticky folder. Written where it may be (it keeps the media polling record),
// else only read.
int OpenLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    const int made = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (made >= 0) {
      ::fchmod(made, 0644);  // whatever the umask, other users must be able to open it
      return made;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// What the lock file keeps while a hold has media polling off: "events_poll_msecs sr0 2000".
// A process killed with the hold (SIGKILL) never restores the value; the next
// holder of the drive finds it here.
std::string PollRecord(const std::string& srName, const std::string& value) {
  return "events_poll_msecs " + srName + " " + value + "\n";
}

// The value recorded for `srName`, or empty. Only a plain number is taken: the
// file is shared, and what is read here is written to sysfs.
std::string RecordedPollValue(int lock, const std::string& srName) {
  char text[64] = {};
  const ssize_t length = ::pread(lock, text, sizeof text - 1, 0);
  if (length <= 0) return {};
  std::istringstream fields(std::string(text, static_cast<std::size_t>(length)));
  std::string key, name, value;
  fields >> key >> name >> value;
  if (key != "events_poll_msecs" || name != srName || value.empty() || value.size() > 9) return {};
  const std::size_t digits = value[0] == '-' ? 1 : 0;
  if (digits == value.size() || value.find_first_not_of("0123456789", digits) != std::string::npos) return {};
  return value == "0" ? std::string() : value;
}

class SgDriveHold final : public DriveHold {
 public:
  SgDriveHold(SgSystem& system, const TraceNote& note) : system_(system), note_(note) {}
  ~SgDriveHold() override {
    RestorePolling();
    if (exclusive_ >= 0) system_.Close(exclusive_);
    if (lock_ >= 0) ::close(lock_);  // the flock goes with the last descriptor
  }
  SgDriveHold(const SgDriveHold&) = delete;
  SgDriveHold& operator=(const SgDriveHold&) = delete;

  std::string Take(const SgioPaths& paths, const HeldDriveNodes& drive);

 private:
  std::string LockSharedFile(const SgioPaths& paths, const HeldDriveNodes& drive, const std::string& label);
  std::string OpenBlockNodeExclusively(const SgioPaths& paths, const HeldDriveNodes& drive, const std::string& label);
  void StopPolling(const SgioPaths& paths, const std::string& srName);
  void PutBackLeftOverPolling(const std::string& file, const std::string& srName);
  bool RecordPolling(const std::string& text);
  void RestorePolling();

  SgSystem& system_;
  TraceNote note_;
  int lock_ = -1;
  int exclusive_ = -1;
  std::string pollFile_;  // set while polling is off and must come back
  std::string pollValue_;
};

std::string SgDriveHold::Take(const SgioPaths& paths, const HeldDriveNodes& drive) {
  const std::string label = "Drive " + std::to_string(drive.index) + " (" + drive.path + ")";
  if (!drive.sgName.empty()) {
    if (std::string error = LockSharedFile(paths, drive, label); !error.empty()) return error;
  }
  if (!drive.srName.empty()) {
    if (std::string error = OpenBlockNodeExclusively(paths, drive, label); !error.empty()) return error;
    StopPolling(paths, drive.srName);
  }
  return {};
}

// Named by the sg device's major:minor, which every user sees alike.
std::string SgDriveHold::LockSharedFile(const SgioPaths& paths, const HeldDriveNodes& drive,
                                        const std::string& label) {
  const std::string device = FirstLine(paths.sysfsRoot + "/class/scsi_generic/" + drive.sgName + "/dev");
  const std::string path = paths.lockRoot + "/ofsflash-" + (device.empty() ? drive.sgName : device) + ".lock";
  lock_ = OpenLockFile(path);
  if (lock_ < 0) return label + ": cannot open its lock file " + path + ": " + Reason(errno) + ".";
  if (::flock(lock_, LOCK_EX | LOCK_NB) == 0) {
    note_("locked " + path);
    return {};
  }
  const int error = errno;
  if (error != EWOULDBLOCK) return label + ": cannot lock " + path + ": " + Reason(error) + ".";
  struct stat info {};
  return DriveBusyText(label, ::fstat(lock_, &info) == 0 ? FlockHolder(paths.procRoot, info.st_ino) : std::string());
}

std::string SgDriveHold::OpenBlockNodeExclusively(const SgioPaths& paths, const HeldDriveNodes& drive,
                                                  const std::string& label) {
  const std::string node = paths.devRoot + "/" + drive.srName;
  exclusive_ = system_.Open(node, O_RDONLY | O_NONBLOCK | O_EXCL);
  if (exclusive_ >= 0) {
    note_("holding " + node + " open with O_EXCL");
    return {};
  }
  const int error = errno;
  if (error == EBUSY) {
    return label + " is in use: another program holds " + node +
           " (a mount, a disc burner or another flasher). Nothing was written to it.";
  }
  // Without access to the block node the lock file alone keeps other flashers away.
  note_("not holding " + node + " exclusively: " + Reason(error));
  return {};
}

// Replaces the lock file's record; false when it cannot be kept there.
bool SgDriveHold::RecordPolling(const std::string& text) {
  if (lock_ < 0 || ::ftruncate(lock_, 0) != 0) return false;
  return ::pwrite(lock_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// We hold the lock, so a record left in it belongs to a holder that is gone.
void SgDriveHold::PutBackLeftOverPolling(const std::string& file, const std::string& srName) {
  if (lock_ < 0) return;
  const std::string recorded = RecordedPollValue(lock_, srName);
  if (recorded.empty()) return;
  // Anything but 0 means someone has set it since: theirs stands.
  if (FirstLine(file) == "0") {
    if (const int error = WriteFile(file, recorded); error != 0) {
      note_("media polling of " + srName + " left off by a run that did not end, not put back to " + recorded +
            " ms: " + Reason(error));
      return;
    }
    note_("media polling of " + srName + " put back to " + recorded + " ms: a run before this one did not end");
  }
  RecordPolling({});
}

void SgDriveHold::StopPolling(const SgioPaths& paths, const std::string& srName) {
  const std::string file = paths.sysfsRoot + "/block/" + srName + "/events_poll_msecs";
  PutBackLeftOverPolling(file, srName);
  const std::string value = FirstLine(file);
  if (value.empty() || value == "0") return;
  // Recorded first: a kill between the two steps leaves a record of a value that was never changed.
  if (!RecordPolling(PollRecord(srName, value))) {
    note_("media polling of " + srName + ": the value " + value + " ms cannot be kept in the lock file");
  }
  if (const int error = WriteFile(file, "0"); error != 0) {
    note_("media polling of " + srName + " stays at " + value + " ms: " + file + ": " + Reason(error));
    RecordPolling({});
    return;
  }
  note_("media polling of " + srName + " off (was " + value + " ms)");
  pollFile_ = file;
  pollValue_ = value;
}

void SgDriveHold::RestorePolling() {
  if (pollFile_.empty()) return;
  const int error = WriteFile(pollFile_, pollValue_);
  note_(error == 0 ? "media polling restored to " + pollValue_ + " ms"
                   : "media polling not restored to " + pollValue_ + " ms: " + Reason(error));
  // A value not put back stays recorded for the next holder to try again.
  if (error == 0) RecordPolling({});
}

}  // namespace

HoldResult HoldSgDrive(SgSystem& system, const SgioPaths& paths, const HeldDriveNodes& drive, const TraceNote& note) {
  auto hold = std::make_unique<SgDriveHold>(system, note);
  std::string error = hold->Take(paths, drive);
  if (!error.empty()) return {nullptr, std::move(error)};
  return {std::move(hold), {}};
}

}  // namespace ofs
