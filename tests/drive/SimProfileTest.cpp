// Reading simulation profiles: every key, the errors with their line numbers,
// firmware files, the built-in demo, and inputs that must not crash the reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

#include "drive/SimTestRig.h"
#include "firmware/OfsBuilder.h"

namespace ofs::test {
namespace {

constexpr char kFullProfile[] = R"(# two drives
clock = virtual

[drive]
vendor = ACME
product = WRITER-1
revision = 0.9a
hardware_id = Q7
date_code = 010203
hardware_id_reply = no
capabilities = 1, 9 13
tray = open
medium = present
load_tray = fails_and_closes 06/1D/00
flash_size = 1M
latency_ms = 5
programming_ms = 0x10
progress_ascq = 07
finish = unit_attention
stay_in_boot = 2
never_ready = yes
never_finish = yes
unplugged = no
checksum = 12AB
checksum_exclude = 1FD00+300, 2F800+800
flash_family = philips
flash_file = kept.bin
fail = write_buffer at 3 times 10 sense 02/04/00
fail = 3B:07 times always transport
raise = SIGHUP at flash_data 2
raise = SIGTSTP at 3B:07 1

[drive]   # defaults
)";

TEST(SimProfile, ReadsEveryKey) {
  const SimProfileResult result = ParseSimProfile(kFullProfile);
  ASSERT_TRUE(result.profile) << result.error;
  EXPECT_TRUE(result.virtualClock);
  ASSERT_EQ(result.profile->drives.size(), 2u);
  const SimDriveProfile& d = result.profile->drives[0];
  EXPECT_EQ(d.vendor + "|" + d.product + "|" + d.revision + "|" + d.hardwareId + "|" + d.dateCode,
            "ACME|WRITER-1|0.9a|Q7|010203");
  EXPECT_FALSE(d.hardwareIdReply);
  EXPECT_EQ(d.capabilities, (1u << 1) | (1u << 9) | (1u << 13));
  EXPECT_TRUE(d.trayOpen);
  EXPECT_TRUE(d.mediumPresent);
  EXPECT_EQ(d.loadTray, SimLoadTray::FailsAndCloses);
  EXPECT_EQ(d.loadTraySense, (SimSense{0x06, 0x1D, 0x00}));
  EXPECT_EQ(d.flashSize, 1u << 20);
  EXPECT_EQ(d.latencyMs, 5u);
  EXPECT_EQ(d.programmingMs, 16u);
  EXPECT_EQ(d.progressAscq, 0x07);
  EXPECT_TRUE(d.finishWithUnitAttention);
  EXPECT_EQ(d.stayInBoot, 2);
  EXPECT_TRUE(d.neverReady);
  EXPECT_TRUE(d.neverFinish);
  EXPECT_FALSE(d.unplugged);
  EXPECT_EQ(d.checksumMode, SimChecksumMode::Fixed);
  EXPECT_EQ(d.fixedChecksum, 0x12AB);
  ASSERT_EQ(d.checksumExclude.size(), 2u);
  EXPECT_EQ(d.checksumExclude[1].Address, 0x2F800u);
  EXPECT_EQ(d.checksumExclude[1].Length, 0x800u);
  ASSERT_EQ(d.failures.size(), 2u);
  EXPECT_EQ(d.failures[0].selector.command, SimCommand::WriteBuffer);
  EXPECT_EQ(d.failures[0].firstUse, 3);
  EXPECT_EQ(d.failures[0].times, 10);
  EXPECT_EQ(d.failures[0].sense, (SimSense{0x02, 0x04, 0x00}));
  EXPECT_EQ(d.failures[1].selector.opcode, 0x3B);
  EXPECT_EQ(d.failures[1].selector.sub, 0x07);
  EXPECT_EQ(d.failures[1].times, 0);
  EXPECT_TRUE(d.failures[1].transportError);
  ASSERT_EQ(d.raises.size(), 2u);
  EXPECT_EQ(d.raises[0].signal, SIGHUP);
  EXPECT_EQ(d.raises[0].selector.command, SimCommand::FlashData);
  EXPECT_EQ(d.raises[0].use, 2);
  EXPECT_EQ(d.raises[1].signal, SIGTSTP);
  EXPECT_EQ(d.raises[1].selector.opcode, 0x3B);
  EXPECT_EQ(d.raises[1].use, 1);
  EXPECT_EQ(d.flashFamily, kSimPhilipsFamily);
  EXPECT_EQ(d.flashFile, "kept.bin");
  EXPECT_EQ(result.profile->drives[1].flashSize, 2u << 20);
  EXPECT_EQ(result.profile->drives[1].flashFamily, std::nullopt);
}

TEST(SimProfile, ErrorsNameTheLine) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", "the profile describes no drive (a [drive] section is missing)"},
      {"vendor = X\n", "line 1: 'vendor' outside a [drive] section"},
      {"clock = fast\n[drive]\n", "line 1: clock must be 'real' or 'virtual'"},
      {"[drive]\n\n tary = open\n", "line 3: unknown key 'tary'"},
      {"[drives]\n", "line 1: unknown section '[drives]'"},
      {"[drive]\nvendor\n", "line 2: expected 'key = value'"},
      {"[drive]\nproduct = 12345678901234567\n", "line 2: text longer than 16 characters"},
      {"[drive]\nvendor = A\tB\n", "line 2: text with a character that is not printable ASCII"},
      {"[drive]\ncapabilities = 14\n", "line 2: capabilities are numbers from 1 to 13"},
      {"[drive]\nflash_size = 100000\n", "line 2: flash_size must be a multiple of 64K up to 16M"},
      {"[drive]\nflash_size = 32M\n", "line 2: flash_size must be a multiple of 64K up to 16M"},
      {"[drive]\nlatency_ms = -1\n", "line 2: expected milliseconds from 0 to 3600000"},
      {"[drive]\nprogramming_ms = 99999999999999999999999\n", "line 2: expected milliseconds from 0 to 3600000"},
      {"[drive]\nload_tray = fails 6/1D\n", "line 2: load_tray sense must read KK/AA/QQ in hexadecimal"},
      {"[drive]\nfail = nonsense\n", "line 2: fail needs a command name or a hex opcode such as 3B or 3B:06"},
      {"[drive]\nfail = inquiry at\n", "line 2: 'at' needs a value"},
      {"[drive]\nfail = inquiry at 0\n", "line 2: bad fail option 'at 0'"},
      {"[drive]\nraise = SIGKILL at inquiry 1\n", "line 2: raise must read 'SIGINT|SIGTERM|SIGHUP|SIGQUIT|SIGTSTP at <command> N'"},
      {"[drive]\nraise = SIGINT at inquiry 0\n", "line 2: raise must read 'SIGINT|SIGTERM|SIGHUP|SIGQUIT|SIGTSTP at <command> N'"},
      {"[drive]\nraise = SIGINT on inquiry 1\n", "line 2: raise must read 'SIGINT|SIGTERM|SIGHUP|SIGQUIT|SIGTSTP at <command> N'"},
      {"[drive]\nchecksum = 12345\n", "line 2: checksum must be 'computed', 'wrong' or four hex digits"},
      {"[drive]\nchecksum_exclude = 100\n", "line 2: checksum_exclude takes ADDRESS+LENGTH ranges in hexadecimal"},
      {"[drive]\nnever_ready = true\n", "line 2: never_ready must be 'yes' or 'no'"},
      {"[drive]\nflash_family = 256\n", "line 2: flash_family must be a flash type from 0 to 255, 'philips' or 'any'"},
      {"[drive]\nclock = virtual\n", "line 2: clock belongs before the first [drive] section"},
      {[] {
         std::string text;
         for (int i = 0; i < 21; ++i) text += "[drive]\n";
         return text;
       }(),
       "line 21: more than 20 drives"},
  };
  for (const auto& [text, error] : cases) {
    const SimProfileResult result = ParseSimProfile(text);
    EXPECT_FALSE(result.profile) << text;
    EXPECT_EQ(result.error, error) << text;
  }
}

TEST(SimProfile, ArbitraryInputNeverCrashesTheReader) {
  std::mt19937 random(1234);
  const std::string seed = kFullProfile;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seed;
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0: text[at] = static_cast<char>(random() % 256); break;
        case 1: text.erase(at, random() % 16); break;
        default: text.insert(at, text.substr(random() % text.size(), random() % 24)); break;
      }
    }
    const SimProfileResult result = ParseSimProfile(text);
    EXPECT_NE(result.profile == nullptr, result.error.empty());
  }
}

class SimProfileFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("ofs-sim-" + std::to_string(getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  static std::string Bytes(const std::vector<uint8_t>& data) { return std::string(data.begin(), data.end()); }

  std::filesystem::path dir_;
};

TEST_F(SimProfileFiles, FirmwareFilesGiveTheDriveItsIdentity) {
  build::InquiryTemplate flatTemplate;
  flatTemplate.revision = "4.20";
  Write("flat.bin", Bytes(build::MakeFlatImage(0x18000, 3, {flatTemplate})));
  build::InquiryTemplate ofsTemplate;
  ofsTemplate.offset = 0x800;
  ofsTemplate.product = "KZW-5520";
  ofsTemplate.revision = "5.55";
  build::OfsLayout layout;
  layout.reservedBlocks = {{0x100, 0x10}};
  const std::vector<uint8_t> flat = build::MakeFlatImage(0x20000, 5, {ofsTemplate});
  Write("fw.ofs", Bytes(build::BuildOfs(layout, flat)));
  const std::string profile =
      Write("drives.txt", "clock = virtual\n[drive]\nfirmware = flat.bin\n[drive]\nfirmware = " +
                              (dir_ / "fw.ofs").string() + "\ncapabilities = 11\n");
  const SimProfileResult result = LoadSimProfile(profile);
  ASSERT_TRUE(result.profile) << result.error;
  EXPECT_TRUE(result.virtualClock);
  SimRig rig(*result.profile);
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "4.20");
  EXPECT_EQ(ReadModelName(*rig.atapi, 1), "ORVA    KZW-5520        ");
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 1), "5.55");
  const std::vector<uint8_t> expected = build::ExpectedFlat(layout, flat);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), rig.drive(1).Flash().begin()));
  // The container's reserved block stays out of the drive's own checksum.
  ASSERT_EQ(result.profile->drives[1].checksumExclude.size(), 1u);
  EXPECT_EQ(result.profile->drives[1].checksumExclude[0].Address, 0x100u);
  // The container declares the flash family; a flat image none.
  EXPECT_EQ(result.profile->drives[1].flashFamily, layout.atapiFlashType);
  EXPECT_EQ(result.profile->drives[0].flashFamily, std::nullopt);
}

TEST_F(SimProfileFiles, FileErrorsAreReported) {
  EXPECT_EQ(LoadSimProfile((dir_ / "none.txt").string()).error,
            "cannot read simulation profile '" + (dir_ / "none.txt").string() + "': no such file");
  const std::string missing = Write("missing.txt", "[drive]\n\nfirmware = nothing.bin\n");
  EXPECT_EQ(LoadSimProfile(missing).error,
            missing + ": line 3: cannot read firmware file '" + (dir_ / "nothing.bin").string() + "': no such file");
  Write("big.bin", std::string(0x20000, 'x'));
  const std::string big = Write("big.txt", "[drive]\nflash_size = 64K\nfirmware = big.bin\n");
  EXPECT_EQ(LoadSimProfile(big).error,
            big + ": line 3: firmware file '" + (dir_ / "big.bin").string() + "' is larger than the flash");
  Write("short.bin", std::string(0x8000, 'x'));
  const std::string kept = Write("kept.txt", "[drive]\nflash_size = 64K\nflash_file = short.bin\n");
  EXPECT_EQ(LoadSimProfile(kept).error,
            kept + ": line 3: flash file '" + (dir_ / "short.bin").string() + "' does not hold 65536 bytes");
  const std::string huge = Write("huge.txt", std::string((1u << 20) + 1, '#'));
  EXPECT_EQ(LoadSimProfile(huge).error, huge + ": profile larger than 1 MiB");
  const std::string bad = Write("bad.txt", "[drive]\nmedium = yes\n");
  EXPECT_EQ(LoadSimProfile(bad).error, bad + ": line 2: medium must be 'present' or 'absent'");
}

TEST(SimProfile, SelectorsOfTheBuiltInDemo) {
  for (const auto& [selector, virtualClock] :
       std::vector<std::pair<std::string, bool>>{{"", false}, {"1", false}, {"fast", true}}) {
    const SimProfileResult result = LoadSimProfile(selector);
    ASSERT_TRUE(result.profile);
    EXPECT_EQ(result.virtualClock, virtualClock);
    EXPECT_EQ(result.profile->drives.size(), 2u);
    VirtualClock clock;
    const auto backend = MakeSimBackend(result.profile, clock);
    ASSERT_TRUE(backend);
    EXPECT_EQ(backend->Enumerate()[1].revision, "2.10");
  }
}

}  // namespace
}  // namespace ofs::test
