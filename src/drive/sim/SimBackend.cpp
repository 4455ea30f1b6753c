#include "drive/sim/SimBackend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "drive/DriveBusy.h"
#include "drive/sim/SimFactory.h"
#include "drive/sim/SimFirmware.h"
#include "params/RegularFile.h"

namespace ofs {

// Handles on several threads reach the same drives: each drive runs one command
// at a time, and the holds are counted under a lock of their own.
struct SimRack {
  struct Bay {
    std::unique_ptr<SimulatedDrive> drive;
    std::mutex commands;
    bool held = false;  // under holds
  };
  std::vector<std::unique_ptr<Bay>> bays;
  std::mutex holds;

  Bay& At(int index) { return *bays.at(static_cast<std::size_t>(index)); }
};

namespace {
constexpr std::size_t kMaxProfileBytes = 1u << 20;  // a profile is a few lines; /dev/zero is not one

class SimHold : public DriveHold {
 public:
  SimHold(std::shared_ptr<SimRack> rack, int index) : rack_(std::move(rack)), index_(index) {}
  ~SimHold() override {
    if (lock_ >= 0) ::close(lock_);  // the flock goes with it
    const std::lock_guard<std::mutex> lock(rack_->holds);
    rack_->At(index_).held = false;
  }
  SimHold(const SimHold&) = delete;
  SimHold& operator=(const SimHold&) = delete;

  // A drive whose flash lives in a file is one drive for every process that
  // names the file, so the file carries the lock a real drive's lock file does.
  std::string LockFlashFile(const std::string& path, const std::string& label) {
    lock_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (lock_ < 0) return label + ": cannot open its flash file " + path + ": " + std::strerror(errno) + ".";
    if (::flock(lock_, LOCK_EX | LOCK_NB) == 0) return {};
    const int error = errno;
    if (error != EWOULDBLOCK) return label + ": cannot lock " + path + ": " + std::strerror(error) + ".";
    struct stat info {};
    return DriveBusyText(label, ::fstat(lock_, &info) == 0 ? FlockHolder("/proc", info.st_ino) : std::string());
  }

 private:
  std::shared_ptr<SimRack> rack_;
  int index_;
  int lock_ = -1;
};

}  // namespace

SimBackend::SimBackend(const SimProfile& profile, Clock& clock) : rack_(std::make_shared<SimRack>()), clock_(clock) {
  for (const SimDriveProfile& drive : profile.drives) {
    rack_->bays.push_back(std::make_unique<SimRack::Bay>());
    rack_->bays.back()->drive = std::make_unique<SimulatedDrive>(drive, clock);
  }
}

SimBackend::SimBackend(std::shared_ptr<SimRack> rack, Clock& clock) : rack_(std::move(rack)), clock_(clock) {}

SimBackend::~SimBackend() = default;

int SimBackend::DriveCount() const { return static_cast<int>(rack_->bays.size()); }

SimulatedDrive& SimBackend::Drive(int index) { return *rack_->At(index).drive; }

bool SimBackend::Held(int index) const {
  const std::lock_guard<std::mutex> lock(rack_->holds);
  return rack_->At(index).held;
}

HoldResult SimBackend::Hold(int index, const TraceNote& note) {
  const std::string label = "Drive " + std::to_string(index) + " (sim:" + std::to_string(index) + ")";
  if (index < 0 || index >= DriveCount()) return {nullptr, "There is no such drive."};
  {
    const std::lock_guard<std::mutex> lock(rack_->holds);
    bool& held = rack_->At(index).held;
    if (held) return {nullptr, DriveBusyText(label, {})};
    held = true;
  }
  auto hold = std::make_unique<SimHold>(rack_, index);
  const std::string& flashFile = Drive(index).Settings().flashFile;
  if (!flashFile.empty()) {
    if (std::string error = hold->LockFlashFile(flashFile, label); !error.empty()) return {nullptr, error};
    note("locked " + flashFile);
  }
  note("holding sim:" + std::to_string(index));
  return {std::move(hold), {}};
}

SharedBackend SimBackend::Share() {
  SharedBackend shared;
  if (dynamic_cast<VirtualClock*>(&clock_) != nullptr) shared.clock = std::make_unique<VirtualClock>(clock_.Now());
  Clock& clock = shared.clock ? *shared.clock : clock_;
  shared.backend = std::unique_ptr<SimBackend>(new SimBackend(rack_, clock));
  return shared;
}

std::vector<BackendDrive> SimBackend::Enumerate() {
  std::vector<BackendDrive> list;
  for (int i = 0; i < DriveCount(); ++i) {
    const std::lock_guard<std::mutex> lock(rack_->At(i).commands);
    const auto inquiry = Drive(i).InquiryData();
    BackendDrive entry;
    entry.devicePath = "sim:" + std::to_string(i);
    entry.identification.assign(inquiry.begin() + 8, inquiry.begin() + 32);
    entry.revision.assign(inquiry.begin() + 32, inquiry.begin() + 36);
    entry.maxTransfer = Drive(i).Settings().maxTransferKb * 1024;
    entry.transport = "sim";
    list.push_back(std::move(entry));
  }
  return list;
}

void SimBackend::Select(int index) { selected_ = index; }

TransportStatus SimBackend::Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                                    SenseData& sense) {
  if (selected_ < 0 || selected_ >= DriveCount()) {
    sense.fill(0);
    return kStatusTransportError;
  }
  SimRack::Bay& bay = rack_->At(selected_);
  const std::lock_guard<std::mutex> lock(bay.commands);
  bay.drive->UseClock(&clock_);
  const TransportStatus status = bay.drive->Execute(cdb, buffer, length, direction, sense);
  bay.drive->UseClock(nullptr);
  gone_ = status == kStatusTransportError && bay.drive->Gone();
  return status;
}

SimProfile BuiltInDemoProfile(bool virtualClock) {
  SimProfile profile;
  profile.virtualClock = virtualClock;
  SimDriveProfile first;
  first.product = "KZR-3350P2";
  first.revision = "1.00";
  first.hardwareId = "A1";
  first.dateCode = "061201";
  first.capabilities = (1u << 11) | (1u << 13);
  SimDriveProfile second;
  second.product = "KZW-5520";
  second.revision = "2.10";
  second.hardwareId = "B2";
  second.dateCode = "050930";
  profile.drives = {first, second};
  return profile;
}

SimProfileResult LoadSimProfile(const std::string& selector) {
  SimProfileResult result;
  if (selector.empty() || selector == "1" || selector == "fast") {
    result.virtualClock = selector == "fast";
    result.profile = std::make_shared<const SimProfile>(BuiltInDemoProfile(result.virtualClock));
    return result;
  }
  std::string problem;
  const std::optional<std::vector<uint8_t>> bytes = ReadRegularFile(selector, problem, kMaxProfileBytes);
  if (!bytes) {
    result.error = "cannot read simulation profile '" + selector + "': " + problem;
    return result;
  }
  const std::string text(bytes->begin(), bytes->end());
  if (text.size() > kMaxProfileBytes) {
    result.error = selector + ": profile larger than 1 MiB";
    return result;
  }
  const SimProfileResult parsed = ParseSimProfile(text);
  if (!parsed.profile) {
    result.error = selector + ": " + parsed.error;
    return result;
  }
  SimProfile profile = *parsed.profile;
  const std::filesystem::path base = std::filesystem::path(selector).parent_path();
  for (SimDriveProfile& drive : profile.drives) {
    // An absolute path replaces the base.
    std::string error;
    if (!drive.firmwarePath.empty() &&
        !LoadSimFirmwareFile((base / drive.firmwarePath).string(), drive.flashSize, drive, error)) {
      result.error = selector + ": line " + std::to_string(drive.firmwareLine) + ": " + error;
      return result;
    }
    if (drive.flashFile.empty()) continue;
    drive.flashFile = (base / drive.flashFile).string();
    if (!LoadSimFlashFile(drive, error)) {
      result.error = selector + ": line " + std::to_string(drive.flashFileLine) + ": " + error;
      return result;
    }
  }
  result.virtualClock = profile.virtualClock;
  result.profile = std::make_shared<const SimProfile>(std::move(profile));
  return result;
}

std::unique_ptr<TransportBackend> MakeSimBackend(std::shared_ptr<const SimProfile> profile, Clock& clock) {
  if (!profile) return nullptr;
  return std::make_unique<SimBackend>(*profile, clock);
}

}  // namespace ofs
