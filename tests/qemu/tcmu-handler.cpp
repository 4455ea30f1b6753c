// The simulated drives behind the kernel's SCSI target (TCMU), so that ofstool in
// the test guest flashes them through sr/sg like real drives:
//   ofs-tcmu-handler PROFILE LOG UIO...
// serves drive i of PROFILE on the i-th UIO device (/dev/uio0 ...) until killed and
// appends one line per command to LOG:
//   DRIVE CDB(12 bytes hex, "??" where the kernel did not carry the byte) LENGTH STATUS [SENSE]
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "drive/Clock.h"
#include "drive/sim/SimProfile.h"
#include "drive/sim/SimulatedDrive.h"
#include "tcmu-ring.h"

namespace {

using ofs::SenseData;
using ofs::SimCommand;

constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;

// The ring does not say which way data goes: the commands that carry data to the
// drive are known, everything else with a buffer reads from it.
uint8_t DirectionOf(const uint8_t* cdb, std::size_t length) {
  if (length == 0) return ofs::kDirNone;
  switch (ofs::ClassifyCdb(cdb)) {
    case SimCommand::FlashData:
    case SimCommand::FlashCommit:
    case SimCommand::BlockSum:
    case SimCommand::FirmwareBlock:
    case SimCommand::WriteBuffer:
      return ofs::kDirOut;
    default:
      return ofs::kDirIn;
  }
}

class Ring {
 public:
  Ring(int drive, ofs::SimulatedDrive& sim, std::FILE* log) : drive_(drive), sim_(sim), log_(log) {}

  bool Open(const std::string& uio) {
    fd_ = open(("/dev/" + uio).c_str(), O_RDWR);
    std::ifstream sizeFile("/sys/class/uio/" + uio + "/maps/map0/size");
    std::size_t size = 0;
    if (fd_ < 0 || !(sizeFile >> std::hex >> size)) return false;
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (base == MAP_FAILED) return false;
    base_ = static_cast<uint8_t*>(base);
    return true;
  }
  int Fd() const { return fd_; }

  // Answers every command the kernel queued, then tells it so. Called once at the
  // start too: commands queued before the device was opened raised no event here.
  void Serve() {
    bool answered = false;
    for (tcmu_ring_command command{}; tcmu_ring_next(base_, &command) != 0; answered = true) Answer(command);
    const uint32_t kick = 1;
    if (answered && write(fd_, &kick, sizeof kick) != sizeof kick) std::perror("ofs-tcmu-handler: kick");
  }
  void Wake() {
    uint32_t events = 0;
    if (read(fd_, &events, sizeof events) == sizeof events) Serve();
  }

 private:
  void Answer(const tcmu_ring_command& command) {
    std::array<uint8_t, 12> cdb{};
    // The target core copies only as many bytes as the opcode's group defines.
    const std::size_t carried = std::min(ofs::GroupCdbLength(command.cdb[0]), cdb.size());
    std::memcpy(cdb.data(), command.cdb, carried);
    const std::vector<iovec> iovs(command.iov, command.iov + command.iov_count);
    std::size_t length = 0;
    for (const iovec& v : iovs) length += v.iov_len;
    const uint8_t direction = DirectionOf(cdb.data(), length);
    std::vector<uint8_t> data(length);
    ForEachSegment(iovs, data, [](uint8_t* ring, uint8_t* flat, std::size_t n) { std::memcpy(flat, ring, n); });
    SenseData sense{};
    const ofs::TransportStatus status =
        sim_.Execute(cdb.data(), data.data(), static_cast<uint32_t>(length), direction, sense);
    if (direction == ofs::kDirIn)
      ForEachSegment(iovs, data, [](uint8_t* ring, uint8_t* flat, std::size_t n) { std::memcpy(ring, flat, n); });
    // A transport failure has no SCSI form: the drive reports an internal fault instead.
    if (status == ofs::kStatusTransportError) sense = SenseData{0x70, 0, 0x04, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x44};
    const uint8_t scsiStatus = status == ofs::kStatusGood ? kScsiGood : kScsiCheckCondition;
    tcmu_ring_complete(base_, &command, scsiStatus, sense.data(), scsiStatus == kScsiGood ? 0 : sense.size());
    Log(cdb, carried, length, scsiStatus, sense);
  }

  template <typename Copy>
  void ForEachSegment(const std::vector<iovec>& iovs, std::vector<uint8_t>& flat, Copy copy) {
    std::size_t at = 0;
    for (const iovec& v : iovs) {
      copy(base_ + reinterpret_cast<uintptr_t>(v.iov_base), flat.data() + at, v.iov_len);
      at += v.iov_len;
    }
  }

  void Log(const std::array<uint8_t, 12>& cdb, std::size_t carried, std::size_t length, uint8_t status,
           const SenseData& sense) {
    std::fprintf(log_, "%d ", drive_);
    for (std::size_t i = 0; i < cdb.size(); ++i)
      i < carried ? std::fprintf(log_, "%02x", cdb[i]) : std::fprintf(log_, "??");
    std::fprintf(log_, " %zu %u", length, status);
    if (status != kScsiGood) std::fprintf(log_, " %x/%02x/%02x", sense[2] & 0x0F, sense[12], sense[13]);
    std::fprintf(log_, "\n");
    std::fflush(log_);
  }

  int drive_;
  ofs::SimulatedDrive& sim_;
  std::FILE* log_;
  int fd_ = -1;
  uint8_t* base_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: ofs-tcmu-handler PROFILE LOG UIO...\n", stderr);
    return 2;
  }
  const ofs::SimProfileResult loaded = ofs::LoadSimProfile(argv[1]);
  if (!loaded.profile) {
    std::fprintf(stderr, "ofs-tcmu-handler: %s\n", loaded.error.c_str());
    return 2;
  }
  const std::size_t count = static_cast<std::size_t>(argc - 3);
  if (loaded.profile->drives.size() < count) {
    std::fputs("ofs-tcmu-handler: the profile has fewer drives than UIO devices\n", stderr);
    return 2;
  }
  std::FILE* log = std::fopen(argv[2], "a");
  if (log == nullptr) return 2;
  const std::unique_ptr<ofs::Clock> clock = ofs::MakeRealClock();
  std::vector<std::unique_ptr<ofs::SimulatedDrive>> drives;
  std::vector<std::unique_ptr<Ring>> rings;
  std::vector<pollfd> waits;
  for (std::size_t i = 0; i < count; ++i) {
    ofs::SimDriveProfile profile = loaded.profile->drives[i];
    profile.cdbsCutToGroupLength = true;
    drives.push_back(std::make_unique<ofs::SimulatedDrive>(profile, *clock));
    rings.push_back(std::make_unique<Ring>(static_cast<int>(i), *drives.back(), log));
    if (!rings.back()->Open(argv[3 + i])) {
      std::fprintf(stderr, "ofs-tcmu-handler: cannot map %s\n", argv[3 + i]);
      return 1;
    }
    waits.push_back({rings.back()->Fd(), POLLIN, 0});
    rings.back()->Serve();
  }
  for (;;) {
    if (poll(waits.data(), waits.size(), -1) < 0) continue;
    for (std::size_t i = 0; i < waits.size(); ++i)
      if ((waits[i].revents & POLLIN) != 0) rings[i]->Wake();
  }
}
