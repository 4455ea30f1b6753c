// The SG_IO back end against a fake system-call layer and a fake sysfs tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "drive/sgio/SgSystem.h"
#include "drive/sgio/SgioBackend.h"
#include "drive/sgio/SysfsScan.h"
#include "support/RecordingBackend.h"

namespace ofs::test {
namespace {

namespace fs = std::filesystem;

struct SgCall {
  int fd = -1;
  sg_io_hdr_t header{};
  std::array<uint8_t, 12> cdb{};
};

// SG_IO on block nodes and the sg driver's write()/poll()/read() both run
// through `answer`: a write is answered at once and its reply read back later.
class FakeSgSystem : public SgSystem {
 public:
  using Answer = std::function<int(int fd, sg_io_hdr_t&)>;

  int Open(const std::string& path, int flags) override {
    opens.push_back({path, flags});
    if (const auto error = openErrors.find(path); error != openErrors.end()) {
      errno = error->second;
      return -1;
    }
    const auto it = nodes.find(path);
    if (it == nodes.end()) errno = ENOENT;
    return it == nodes.end() ? -1 : it->second;
  }
  void Close(int fd) override { closed->push_back(fd); }
  int SgIo(int fd, sg_io_hdr_t& request) override { return Run(fd, request); }
  ssize_t Write(int fd, const sg_io_hdr_t& request) override {
    pending = request;
    return Run(fd, pending) < 0 ? -1 : static_cast<ssize_t>(sizeof request);
  }
  int Poll(int, int) override { return Interrupted(pollInterruptions) ? -1 : 1; }
  ssize_t Read(int, sg_io_hdr_t& reply) override {
    if (Interrupted(readInterruptions)) return -1;
    if (readError != 0) {
      errno = readError;
      return -1;
    }
    reply = pending;
    return sizeof reply;
  }
  bool HasRawIoCapability() override { return rawIo; }
  bool Exists(const std::string& path) override { return nodes.count(path) != 0; }
  uint32_t MaxTransferBytes(int) override { return sgLimit; }

  std::map<std::string, int> nodes;  // path -> descriptor the open returns
  std::map<std::string, int> openErrors;  // path -> errno of its open
  Answer answer;
  int failErrno = EIO;  // errno when answer returns -1
  int pollInterruptions = 0, readInterruptions = 0;  // EINTR before the reply
  int readError = 0;
  bool rawIo = false;
  uint32_t sgLimit = 0;  // what BLKSECTGET gives on an sg node
  std::vector<std::pair<std::string, int>> opens;
  std::shared_ptr<std::vector<int>> closed = std::make_shared<std::vector<int>>();  // outlives the fake
  std::vector<SgCall> calls;  // each command submitted to a drive

 private:
  int Run(int fd, sg_io_hdr_t& request) {
    SgCall call{fd, request, {}};
    std::copy(request.cmdp, request.cmdp + 12, call.cdb.begin());
    calls.push_back(call);
    const int result = answer ? answer(fd, request) : 0;
    if (result < 0) errno = failErrno;
    return result;
  }
  static bool Interrupted(int& left) {
    if (left == 0) return false;
    --left;
    errno = EINTR;
    return true;
  }
  sg_io_hdr_t pending{};
};

// A sysfs tree in a private temporary folder.
class FakeSysfs {
 public:
  FakeSysfs() : root_(fs::temp_directory_path() / ("ofs-sysfs-" + std::to_string(getpid()) + "-" + Unique())) {}
  ~FakeSysfs() { fs::remove_all(root_); }
  void Add(const std::string& address, int type, const std::string& sg, const std::string& sr) {
    const fs::path device = root_ / "class/scsi_device" / address / "device";
    fs::create_directories(device);
    std::ofstream(device / "type") << type << "\n";
    if (!sg.empty()) fs::create_directories(device / "scsi_generic" / sg);
    if (!sr.empty()) fs::create_directories(device / "block" / sr);
  }
  // The same device, reached as the kernel links it: below `parents` in the device tree.
  void AddBelow(const std::string& parents, const std::string& address, const std::string& sg, const std::string& sr) {
    const fs::path device = root_ / "devices" / parents / "host0/target0:0:0" / address;
    fs::create_directories(device / "scsi_generic" / sg);
    if (!sr.empty()) fs::create_directories(device / "block" / sr);
    std::ofstream(device / "type") << "5\n";
    fs::create_directories(root_ / "class/scsi_device" / address);
    fs::create_directory_symlink(device, root_ / "class/scsi_device" / address / "device");
  }
  void Write(const std::string& file, const std::string& text) {
    fs::create_directories((root_ / file).parent_path());
    std::ofstream(root_ / file) << text;
  }
  void Link(const std::string& target, const std::string& link) {
    fs::create_directories((root_ / link).parent_path());
    fs::create_symlink(target, root_ / link);
  }
  std::string root() const { return root_.string(); }

 private:
  static std::string Unique() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }
  fs::path root_;
};

void PutInquiry(sg_io_hdr_t& request, const std::string& identification, const std::string& revision) {
  auto* reply = static_cast<uint8_t*>(request.dxferp);
  std::copy(identification.begin(), identification.end(), reply + 8);
  std::copy(revision.begin(), revision.end(), reply + 32);
}

TEST(SysfsScan, FindsCdDrivesInAddressOrder) {
  FakeSysfs sysfs;
  sysfs.Add("10:0:0:0", 5, "", "sr2");
  sysfs.Add("1:0:0:0", 5, "sg2", "sr1");
  sysfs.Add("0:0:0:0", 0, "sg0", "sda");
  sysfs.Add("0:0:1:0", 5, "sg1", "sr0");
  sysfs.Add("2:0:0:0", 5, "sg4", "");
  sysfs.Add("host3", 5, "sg9", "sr9");
  const std::vector<ScsiCdDevice> found = FindScsiCdDevices(sysfs.root());
  ASSERT_EQ(found.size(), 4u);
  const std::vector<std::array<std::string, 3>> expected = {
      {"0:0:1:0", "sg1", "sr0"}, {"1:0:0:0", "sg2", "sr1"}, {"2:0:0:0", "sg4", ""}, {"10:0:0:0", "", "sr2"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(found[i].address, expected[i][0]);
    EXPECT_EQ(found[i].sgName, expected[i][1]);
    EXPECT_EQ(found[i].srName, expected[i][2]);
  }
  EXPECT_TRUE(FindScsiCdDevices(sysfs.root() + "/missing").empty());
}

// How each drive is attached, the bridge's IDs and the block queue's limit, from the device tree.
TEST(SysfsScan, TellsTheTransportAndTheLimit) {
  FakeSysfs sysfs;
  const std::string usb = "pci0000:00/0000:00:04.0/usb1/1-1";
  const std::string uas = "pci0000:00/0000:00:04.0/usb2/2-1";
  sysfs.AddBelow(usb + "/1-1:1.0", "0:0:0:0", "sg0", "sr0");
  sysfs.Write("devices/" + usb + "/idVendor", "46f4\n");
  sysfs.Write("devices/" + usb + "/idProduct", "0001\n");
  sysfs.Link("../../../../../bus/usb/drivers/usb-storage", "devices/" + usb + "/1-1:1.0/driver");
  sysfs.AddBelow(uas + "/2-1:1.0", "1:0:0:0", "sg1", "");
  sysfs.Write("devices/" + uas + "/idVendor", "152d\n");
  sysfs.Write("devices/" + uas + "/idProduct", "\x1b[2J\n");
  sysfs.Link("../../../../../bus/usb/drivers/uas", "devices/" + uas + "/2-1:1.0/driver");
  sysfs.AddBelow("pci0000:00/0000:00:01.1/ata2", "2:0:0:0", "sg2", "sr2");
  sysfs.AddBelow("pci0000:00/0000:00:05.0/virtio1", "3:0:0:0", "sg3", "");
  sysfs.Link("nothing", "devices/pci0000:00/0000:00:05.0/virtio1/driver");
  sysfs.Write("block/sr0/queue/max_hw_sectors_kb", "32\n");
  sysfs.Write("block/sr2/queue/max_hw_sectors_kb", "512\n");
  const std::vector<ScsiCdDevice> found = FindScsiCdDevices(sysfs.root());
  ASSERT_EQ(found.size(), 4u);
  const std::vector<std::array<std::string, 3>> expected = {
      {"usb", "46f4:0001", "32"}, {"usb", "152d:????", "0"}, {"ata", "", "512"}, {"scsi", "", "0"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(found[i].transport, expected[i][0]) << i;
    EXPECT_EQ(found[i].bridge, expected[i][1]) << i;
    EXPECT_EQ(std::to_string(found[i].maxTransferKb), expected[i][2]) << i;
  }
}

class Sgio : public ::testing::Test {
 protected:
  Sgio() {
    auto fake = std::make_unique<FakeSgSystem>();
    system = fake.get();
    backend = std::make_unique<SgioBackend>(std::move(fake), SgioPaths{sysfs.root(), "/devroot"});
  }
  // One drive reachable at /devroot/sg1 as descriptor 7, selected.
  void OneDrive() {
    sysfs.Add("0:0:0:0", 5, "sg1", "sr0");
    system->nodes["/devroot/sg1"] = 7;
    ASSERT_EQ(backend->Enumerate().size(), 1u);
    backend->Select(0);
    system->calls.clear();
  }

  FakeSysfs sysfs;
  FakeSgSystem* system = nullptr;
  std::unique_ptr<SgioBackend> backend;
};

TEST_F(Sgio, SaysWhyNoDriveCouldBeOpened) {
  EXPECT_EQ(backend->WhyNoDrive(), "This machine has no CD/DVD drive that the kernel knows of.");
  sysfs.Add("0:0:0:0", 5, "sg1", "sr0");
  sysfs.Add("0:0:1:0", 5, "", "sr1");
  const std::string why = backend->WhyNoDrive();
  EXPECT_EQ(why.rfind("2 CD/DVD drive(s) found (/dev/sg1, /dev/sr0, /dev/sr1), but this user may not open them.", 0),
            0u)
      << why;
  for (const char* step : {"seat access", "usermod -aG cdrom", "modprobe sg"}) {
    EXPECT_NE(why.find(step), std::string::npos) << step;
  }
}

TEST_F(Sgio, EnumeratesOpenableDrivesPreferringTheSgNode) {
  sysfs.Add("0:0:0:0", 5, "sg0", "sr0");  // sg usable
  sysfs.Add("0:0:1:0", 5, "sg1", "sr1");  // sg refused, sr usable
  sysfs.Add("0:0:2:0", 5, "", "sr2");     // no sg node
  sysfs.Add("0:0:3:0", 5, "sg3", "sr3");  // nothing opens: skipped
  system->nodes = {{"/devroot/sg0", 10}, {"/devroot/sr1", 11}, {"/devroot/sr2", 12}};
  system->rawIo = false;
  system->answer = [](int fd, sg_io_hdr_t& request) {
    PutInquiry(request, "VENDOR" + std::to_string(fd) + "PRODUCT", "1.0" + std::to_string(fd - 10));
    return 0;
  };
  const std::vector<BackendDrive> drives = backend->Enumerate();
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].devicePath, "/devroot/sg0");
  EXPECT_EQ(drives[0].filter, CommandFilter::None);
  EXPECT_EQ(drives[0].identification, "VENDOR10PRODUCT");
  EXPECT_EQ(drives[0].revision, "1.00");
  EXPECT_EQ(drives[1].devicePath, "/devroot/sr1");
  EXPECT_EQ(drives[1].filter, CommandFilter::KernelSafeList);
  EXPECT_EQ(drives[2].devicePath, "/devroot/sr2");
  EXPECT_EQ(drives[2].revision, "1.02");
  for (const auto& [path, flags] : system->opens) EXPECT_EQ(flags, O_RDWR | O_NONBLOCK) << path;
  // One 36-byte INQUIRY per drive, on that drive's descriptor.
  ASSERT_EQ(system->calls.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(system->calls[i].fd, 10 + i);
    EXPECT_EQ(CdbHex(system->calls[i].cdb), "120000002400000000000000");
    EXPECT_EQ(system->calls[i].header.dxfer_len, 36u);
  }
}

TEST_F(Sgio, RawIoMakesAnSrNodeFlashable) {
  sysfs.Add("0:0:0:0", 5, "", "sr0");
  system->nodes = {{"/devroot/sr0", 5}};
  system->rawIo = true;
  const std::vector<BackendDrive> drives = backend->Enumerate();
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].filter, CommandFilter::None);
}

TEST_F(Sgio, BuildsOneRequestPerCommand) {
  OneDrive();
  const uint8_t cdb[12] = {0x3B, 0x06, 0, 1, 2, 3, 0, 0x10, 0, 0, 0, 0xEE};
  std::vector<uint8_t> data(4096);
  SenseData sense{};
  struct Case {
    uint8_t direction;
    uint32_t length;
    uint8_t* buffer;
    int sgDirection;
  };
  const Case cases[] = {{kDirOut, 4096, data.data(), SG_DXFER_TO_DEV},
                        {kDirIn, 4096, data.data(), SG_DXFER_FROM_DEV},
                        {kDirNone, 0, nullptr, SG_DXFER_NONE},
                        {kDirIn, 0, data.data(), SG_DXFER_NONE},
                        {kDirIn, 16, nullptr, SG_DXFER_NONE}};
  for (const Case& c : cases) {
    system->calls.clear();
    EXPECT_EQ(backend->Execute(cdb, c.buffer, c.length, c.direction, sense), kStatusGood);
    ASSERT_EQ(system->calls.size(), 1u);
    const SgCall& call = system->calls[0];
    EXPECT_EQ(call.fd, 7);
    EXPECT_EQ(call.header.interface_id, 'S');
    EXPECT_EQ(call.header.cmd_len, 12);
    EXPECT_EQ(CdbHex(call.cdb), "3b060001020300100000" "00ee");
    EXPECT_EQ(call.header.dxfer_direction, c.sgDirection);
    const bool moves = c.sgDirection != SG_DXFER_NONE;
    EXPECT_EQ(call.header.dxfer_len, moves ? c.length : 0u);
    EXPECT_EQ(call.header.dxferp, moves ? c.buffer : nullptr);
    EXPECT_EQ(call.header.timeout, 20000u);
    EXPECT_EQ(call.header.mx_sb_len, 32);
    EXPECT_NE(call.header.sbp, nullptr);
  }
}

struct StatusCase {
  int ioctlResult;
  unsigned short host, driver;
  unsigned char status, masked;
  TransportStatus expected;
};

TEST_F(Sgio, MapsTheOutcomeToATransportStatus) {
  OneDrive();
  const StatusCase cases[] = {
      {0, 0, 0, 0, 0, 1},        {-1, 0, 0, 0, 0, 0},       {0, 0x03, 0, 0, 0, 0},      // time-out on the host
      {0, 0x01, 0, 2, 1, 0},     {0, 0, 0x06, 0, 0, 0},     {0, 0, 0x04, 2, 1, 0},      // driver time-out/error
      {0, 0, 0x08, 2, 1, 2},     {0, 0, 0x18, 2, 1, 2},     {0, 0, 0x08, 0, 1, 2},      // sense, suggestion bits
      {0, 0, 0, 0x18, 0x0C, 0x18}, {0, 0, 0, 0x08, 0x04, 8}, {0, 0, 0x08, 0, 0, 1},
  };
  const uint8_t cdb[12] = {};
  for (const StatusCase& c : cases) {
    system->answer = [&](int, sg_io_hdr_t& request) {
      request.host_status = c.host;
      request.driver_status = c.driver;
      request.status = c.status;
      request.masked_status = c.masked;
      return c.ioctlResult;
    };
    SenseData sense{};
    EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), c.expected)
        << c.ioctlResult << " host " << c.host << " driver " << c.driver << " status " << int(c.status);
  }
}

TEST_F(Sgio, HandsOnSenseInFixedFormat) {
  OneDrive();
  const uint8_t cdb[12] = {};
  SenseData sense{};
  system->answer = [](int, sg_io_hdr_t& request) {
    const uint8_t descriptor[] = {0x72, 0x02, 0x3A, 0x01, 0, 0, 0, 0};
    std::copy(std::begin(descriptor), std::end(descriptor), request.sbp);
    request.sb_len_wr = sizeof descriptor;
    request.status = 2;
    request.driver_status = 0x08;
    return 0;
  };
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusCheckCondition);
  EXPECT_EQ(sense[0], 0x70);
  EXPECT_EQ(sense[2], 0x02);
  EXPECT_EQ(sense[12], 0x3A);
  EXPECT_EQ(sense[13], 0x01);
  // A failed request leaves no sense behind, whatever the buffer held.
  system->answer = [](int, sg_io_hdr_t& request) {
    request.sbp[0] = 0x70;
    request.sbp[2] = 0x05;
    request.sb_len_wr = 18;
    return -1;
  };
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusTransportError);
  EXPECT_EQ(sense, SenseData{});
}

TEST_F(Sgio, NoSelectedDriveSendsNothing) {
  const uint8_t cdb[12] = {};
  SenseData sense{};
  sense.fill(0xAA);
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusTransportError);
  EXPECT_EQ(sense, SenseData{});
  OneDrive();
  backend->Select(1);
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusTransportError);
  EXPECT_TRUE(system->calls.empty());
}

TEST_F(Sgio, ClosesItsNodesWhenDestroyed) {
  OneDrive();
  const auto closed = system->closed;
  EXPECT_TRUE(closed->empty());
  backend.reset();
  EXPECT_EQ(*closed, std::vector<int>{7});
}

// A signal during the wait for a reply (or a stop and continue) resumes the
// wait: the drive sees the command once.
TEST_F(Sgio, AnInterruptedWaitSendsTheCommandOnce) {
  OneDrive();
  system->pollInterruptions = 2;
  system->readInterruptions = 1;
  system->answer = [](int, sg_io_hdr_t& request) {
    static_cast<uint8_t*>(request.dxferp)[0] = 0x42;
    return 0;
  };
  const uint8_t cdb[12] = {0x3B, 0x07};
  uint8_t reply[4] = {};
  SenseData sense{};
  EXPECT_EQ(backend->Execute(cdb, reply, 4, kDirIn, sense), kStatusGood);
  EXPECT_EQ(system->calls.size(), 1u);
  EXPECT_EQ(reply[0], 0x42);
  EXPECT_EQ(system->pollInterruptions + system->readInterruptions, 0);
}

// A drive that left the system says so in the errno, in the host status, or by its node being gone.
struct GoneCase {
  int ioctlResult;
  int error;
  unsigned short host;
  bool nodeLeft;
  bool gone;
};

TEST_F(Sgio, KnowsADriveThatLeftTheSystem) {
  const GoneCase cases[] = {
      {0, 0, 0, false, false},      {-1, ENODEV, 0, false, true}, {-1, ENXIO, 0, false, true},
      {-1, EIO, 0, false, false},   {-1, EIO, 0, true, true},     {0, 0, 0x01, false, true},
      {0, 0, 0x03, false, false},
  };
  const uint8_t cdb[12] = {};
  sysfs.Add("0:0:0:0", 5, "sg1", "sr0");
  for (const GoneCase& c : cases) {
    auto fake = std::make_unique<FakeSgSystem>();
    system = fake.get();
    backend = std::make_unique<SgioBackend>(std::move(fake), SgioPaths{sysfs.root(), "/devroot"});
    system->nodes["/devroot/sg1"] = 7;
    ASSERT_EQ(backend->Enumerate().size(), 1u);
    backend->Select(0);
    system->failErrno = c.error;
    system->answer = [&](int, sg_io_hdr_t& request) {
      request.host_status = c.host;
      if (c.nodeLeft) system->nodes.clear();
      return c.ioctlResult;
    };
    SenseData sense{};
    backend->Execute(cdb, nullptr, 0, kDirNone, sense);
    EXPECT_EQ(backend->LastDriveGone(), c.gone) << c.ioctlResult << " errno " << c.error << " host " << c.host;
  }
}

// The limit of a drive without a block node is the one the sg driver gives.
TEST_F(Sgio, TakesTheLimitFromTheBlockQueueOrTheSgNode) {
  sysfs.Add("0:0:0:0", 5, "sg0", "");
  sysfs.Add("0:0:1:0", 5, "sg1", "sr1");
  system->nodes = {{"/devroot/sg0", 10}, {"/devroot/sg1", 11}};
  system->sgLimit = 65536;
  fs::create_directories(sysfs.root() + "/block/sr1/queue");
  std::ofstream(sysfs.root() + "/block/sr1/queue/max_hw_sectors_kb") << "120\n";
  const std::vector<BackendDrive> drives = backend->Enumerate();
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].maxTransfer, 65536u);
  EXPECT_EQ(drives[1].maxTransfer, 120u * 1024);
}

// A reply that cannot be collected could land later in memory used for other
// things: the node is closed, and the drive is gone for this run.
TEST_F(Sgio, AReplyThatCannotBeCollectedClosesTheNode) {
  OneDrive();
  const auto closed = system->closed;
  system->readError = ENODEV;
  const uint8_t cdb[12] = {};
  SenseData sense{};
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusTransportError);
  EXPECT_EQ(backend->LastSystemError(), ENODEV);
  EXPECT_EQ(*closed, std::vector<int>{7});
  system->readError = 0;
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusTransportError);
  EXPECT_EQ(system->calls.size(), 1u);
  backend.reset();
  EXPECT_EQ(*closed, std::vector<int>{7});  // not closed twice
}

// Block nodes keep SG_IO, once per command: a refusal is not retried and says why.
TEST_F(Sgio, BlockNodesUseSgIoOnceAndReportTheSystemError) {
  sysfs.Add("0:0:0:0", 5, "", "sr0");
  system->nodes = {{"/devroot/sr0", 5}};
  ASSERT_EQ(backend->Enumerate().size(), 1u);
  backend->Select(0);
  system->calls.clear();
  system->answer = [](int, sg_io_hdr_t&) { return -1; };
  system->failErrno = EPERM;
  const uint8_t cdb[12] = {0x3B};
  SenseData sense{};
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusTransportError);
  EXPECT_EQ(backend->LastSystemError(), EPERM);
  EXPECT_EQ(system->calls.size(), 1u);
  system->answer = nullptr;
  EXPECT_EQ(backend->Execute(cdb, nullptr, 0, kDirNone, sense), kStatusGood);
  EXPECT_EQ(backend->LastSystemError(), 0);
}

// The hold of one drive: its lock file, its block node opened with O_EXCL and
// its media polling off, all given back on release.
class SgioHold : public Sgio {
 protected:
  SgioHold() {
    const fs::path root = sysfs.root();
    lockRoot = root / "lock";
    fs::create_directories(lockRoot);
    fs::create_directories(root / "class/scsi_generic/sg1");
    std::ofstream(root / "class/scsi_generic/sg1/dev") << "21:1\n";
    fs::create_directories(root / "block/sr0");
    std::ofstream(pollFile = root / "block/sr0/events_poll_msecs") << "2000\n";
    auto fake = std::make_unique<FakeSgSystem>();
    system = fake.get();
    backend = std::make_unique<SgioBackend>(std::move(fake), SgioPaths{sysfs.root(), "/devroot", lockRoot, "/proc"});
    OneDrive();
    system->nodes["/devroot/sr0"] = 9;
  }
  std::string Poll() const {
    std::ifstream in(pollFile);
    std::string value;
    in >> value;
    return value;
  }
  HoldResult Take() {
    return backend->Hold(0, [this](const std::string& note) { notes.push_back(note); });
  }

  std::string lockRoot;
  fs::path pollFile;
  std::vector<std::string> notes;
};

TEST_F(SgioHold, HoldsTheDriveAndGivesEverythingBack) {
  HoldResult first = Take();
  ASSERT_NE(first.hold, nullptr) << first.error;
  EXPECT_TRUE(fs::exists(lockRoot + "/ofsflash-21:1.lock"));
  EXPECT_EQ(system->opens.back(), (std::pair<std::string, int>{"/devroot/sr0", O_RDONLY | O_NONBLOCK | O_EXCL}));
  EXPECT_EQ(Poll(), "0");
  // A second flasher, in this process or any other: refused, naming the holder.
  HoldResult second = Take();
  EXPECT_EQ(second.hold, nullptr);
  EXPECT_NE(second.error.find("Drive 0 (/devroot/sg1) is being flashed by another program ("), std::string::npos)
      << second.error;
  EXPECT_NE(second.error.find("pid " + std::to_string(getpid()) + ")"), std::string::npos) << second.error;
  EXPECT_EQ(Poll(), "0");
  first.hold.reset();
  EXPECT_EQ(Poll(), "2000");
  EXPECT_EQ(*system->closed, std::vector<int>{9});
  EXPECT_NE(Take().hold, nullptr);
  EXPECT_EQ(notes.front(), "locked " + lockRoot + "/ofsflash-21:1.lock");
  EXPECT_NE(std::find(notes.begin(), notes.end(), "media polling of sr0 off (was 2000 ms)"), notes.end());
  EXPECT_NE(std::find(notes.begin(), notes.end(), "media polling restored to 2000 ms"), notes.end());
}

// A flasher killed with its hold (SIGKILL: no destructor runs) leaves polling off;
// the next hold of the drive puts the recorded value back first and says so.
TEST_F(SgioHold, TheNextHoldPutsBackWhatAKilledHolderLeftOff) {
  const pid_t child = fork();
  if (child == 0) {
    HoldResult held = Take();
    static_cast<void>(held.hold.release());
    _exit(held.error.empty() ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(Poll(), "0");
  HoldResult next = Take();
  ASSERT_NE(next.hold, nullptr) << next.error;
  EXPECT_EQ(Poll(), "0");  // off again for this hold, which gives back the old value
  EXPECT_NE(std::find(notes.begin(), notes.end(),
                      "media polling of sr0 put back to 2000 ms: a run before this one did not end"),
            notes.end());
  EXPECT_NE(std::find(notes.begin(), notes.end(), "media polling of sr0 off (was 2000 ms)"), notes.end());
  next.hold.reset();
  EXPECT_EQ(Poll(), "2000");
  EXPECT_EQ(fs::file_size(lockRoot + "/ofsflash-21:1.lock"), 0u) << "nothing left to put back";
}

// A drive that leaves the system takes its sysfs folder along: the hold gives back what it
// can without a word beyond the trace, and the drive, back as a new device, is held as any other.
TEST_F(SgioHold, ADriveThatLeftNeedsNoCleanUpByHand) {
  HoldResult held = Take();
  ASSERT_NE(held.hold, nullptr) << held.error;
  fs::remove_all(pollFile.parent_path());
  held.hold.reset();
  EXPECT_NE(std::find(notes.begin(), notes.end(), "media polling not restored to 2000 ms: No such file or directory"),
            notes.end());
  fs::create_directories(pollFile.parent_path());
  std::ofstream(pollFile) << "2000\n";  // the device that came back starts with the kernel's value
  HoldResult again = Take();
  ASSERT_NE(again.hold, nullptr) << again.error;
  EXPECT_EQ(Poll(), "0");
  again.hold.reset();
  EXPECT_EQ(Poll(), "2000");
  EXPECT_EQ(fs::file_size(lockRoot + "/ofsflash-21:1.lock"), 0u) << "nothing left to put back";
}

// What the record holds counts only while polling is still off and only as a number.
TEST_F(SgioHold, ALeftOverRecordIsTakenOnlyWhenItStillApplies) {
  struct Case {
    const char* record;
    const char* pollBefore;
    const char* pollAfterRelease;
  };
  const Case cases[] = {
      {"events_poll_msecs sr0 -1\n", "0", "-1"},
      {"events_poll_msecs sr0 2000\n", "500", "500"},  // set since by someone else
      {"events_poll_msecs sr1 2000\n", "0", "0"},      // another drive's
      {"events_poll_msecs sr0 20;x\n", "0", "0"},
  };
  for (const Case& c : cases) {
    std::ofstream(lockRoot + "/ofsflash-21:1.lock") << c.record;
    std::ofstream(pollFile) << c.pollBefore << "\n";
    HoldResult held = Take();
    ASSERT_NE(held.hold, nullptr) << held.error;
    held.hold.reset();
    EXPECT_EQ(Poll(), c.pollAfterRelease) << c.record;
  }
}

TEST_F(SgioHold, ABusyBlockNodeRefusesAndLetsTheLockGo) {
  system->openErrors["/devroot/sr0"] = EBUSY;
  HoldResult busy = Take();
  EXPECT_EQ(busy.hold, nullptr);
  EXPECT_NE(busy.error.find("another program holds /devroot/sr0"), std::string::npos) << busy.error;
  EXPECT_EQ(Poll(), "2000");
  // Without access to the block node the lock file alone keeps flashers apart.
  system->openErrors["/devroot/sr0"] = EACCES;
  HoldResult held = Take();
  ASSERT_NE(held.hold, nullptr) << held.error;
  EXPECT_EQ(Take().hold, nullptr);
}

// A lock file made by another user, which this one may read but not write, still
// keeps flashers apart. (Root is made to meet the file's mode as others do.)
TEST_F(SgioHold, ALockFileThatCanOnlyBeReadStillHolds) {
  const std::string lock = lockRoot + "/ofsflash-21:1.lock";
  std::ofstream(lock).flush();
  fs::permissions(lock, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const pid_t child = fork();
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
    if (syscall(SYS_capget, &header, data.data()) != 0) _exit(2);
    data[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective &= ~CAP_TO_MASK(CAP_DAC_OVERRIDE);
    if (syscall(SYS_capset, &header, data.data()) != 0) _exit(2);
    _exit(Take().hold ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "the capabilities cannot be changed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SgioHold, NoLockFolderNoFlash) {
  fs::remove_all(lockRoot);
  HoldResult result = Take();
  EXPECT_EQ(result.hold, nullptr);
  EXPECT_NE(result.error.find("cannot open its lock file " + lockRoot + "/ofsflash-21:1.lock"), std::string::npos)
      << result.error;
}

// The Linux layer's own capability check, in a child whose effective set holds all of
// this process's capabilities but raw I/O, or raw I/O alone; nothing when that set
// cannot be made here.
std::optional<bool> RawIoSeenByTheLinuxLayer(bool rawIoAlone) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
  if (syscall(SYS_capget, &header, data.data()) != 0) return std::nullopt;
  const auto word = CAP_TO_INDEX(CAP_SYS_RAWIO);
  const auto bit = CAP_TO_MASK(CAP_SYS_RAWIO);
  if (rawIoAlone && (data[word].permitted & bit) == 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    for (auto& d : data) d.effective = rawIoAlone ? 0 : d.permitted;
    data[word].effective = rawIoAlone ? bit : data[word].effective & ~bit;
    if (syscall(SYS_capset, &header, data.data()) != 0) _exit(2);
    _exit(MakeLinuxSgSystem()->HasRawIoCapability() ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 2)
    return std::nullopt;
  return WEXITSTATUS(status) == 1;
}

TEST(LinuxSgSystem, RawIoIsTheRawIoCapabilityAndNoOther) {
  EXPECT_EQ(RawIoSeenByTheLinuxLayer(false), false);
  const auto alone = RawIoSeenByTheLinuxLayer(true);
  if (!alone) GTEST_SKIP() << "this process does not hold raw I/O";
  EXPECT_TRUE(*alone);
}

}  // namespace
}  // namespace ofs::test
