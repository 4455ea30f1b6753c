// Flashing a simulated drive through every protocol a flash procedure uses: the
// new firmware lands in the flash, and the drive then reports the new version.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "drive/SimTestRig.h"
#include "firmware/OfsBuilder.h"

namespace ofs::test {
namespace {

using Image = std::vector<uint8_t>;
constexpr uint32_t kBank = 0x10000;
constexpr uint32_t kBlock = 0x4000;

Image NewFirmware(std::size_t banks, const std::string& revision = "2.00") {
  build::InquiryTemplate inquiry;
  inquiry.offset = 0x3000;
  inquiry.revision = revision;
  return build::MakeFlatImage(banks * kBank, 11, {inquiry});
}

SimDriveProfile TestDrive() {
  SimDriveProfile drive;
  drive.product = "KZR-3350P2";
  drive.programmingMs = 2000;
  drive.capabilities = (1u << 11) | (1u << 13);
  return drive;
}

uint16_t Sum16(const uint8_t* data, std::size_t length) {
  return static_cast<uint16_t>(std::accumulate(data, data + length, 0u));
}

// Bank data with FlashDataCommand, at most 65534 bytes a bank.
void SendBankData(SimRig& rig, const Image& image) {
  const auto banks = static_cast<uint8_t>((image.size() + kBank - 1) / kBank);
  for (uint8_t i = 0; i < banks; ++i) {
    const auto length = static_cast<uint16_t>(std::min<std::size_t>(image.size() - i * kBank, 65534));
    const Cdb cdb{0x5A, 0x00, 0x38, 'O', 'R', 0xA0, 0x05, i, uint8_t(length >> 8), uint8_t(length), 0, 0};
    ASSERT_TRUE(rig.SendOut(cdb, image.data() + i * kBank, length));
  }
}

// The 16-bit sum of what SendBankData sends.
uint16_t BankDataSum(const Image& image) {
  uint16_t sum = 0;
  for (std::size_t at = 0; at < image.size(); at += kBank)
    sum = static_cast<uint16_t>(sum + Sum16(image.data() + at, std::min<std::size_t>(image.size() - at, 65534)));
  return sum;
}

bool SendCommit(SimRig& rig, const uint8_t* first128, uint8_t sub, uint8_t banks, uint16_t checksum) {
  const Cdb commit{0x5A, 0x00, 0x38, 'O', 'R', 0xA0, sub, uint8_t(0xE0 + banks), 0x00, 0x80,
                   uint8_t(checksum >> 8), uint8_t(checksum)};
  return rig.SendOut(commit, first128, 128);
}

void SendBankWrite(SimRig& rig, const Image& image, uint8_t commitSub) {
  SendBankData(rig, image);
  SendCommit(rig, image.data(), commitSub, static_cast<uint8_t>((image.size() + kBank - 1) / kBank),
             BankDataSum(image));
}

void SendHalfBanks(SimRig& rig, const Image& image) {
  const auto banks = static_cast<uint8_t>(image.size() / kBank);
  for (uint8_t i = 0; i < banks; ++i) {
    for (const uint8_t half : {0x00, 0x80}) {
      const Cdb cdb{0x5A, 0x00, 0x38, 'O', 'R', 0xA0, 0x05, i, half, 0x00, 0, 0};
      ASSERT_TRUE(rig.SendOut(cdb, image.data() + i * kBank + half * 256u, 0x8000));
    }
  }
  SendCommit(rig, image.data(), 4, banks, Sum16(image.data(), image.size()));
}

Cdb BlockSumCdb(const Image& image, std::size_t block, std::size_t count) {
  const uint16_t blockSum = Sum16(image.data() + block * kBlock, kBlock);
  const uint16_t total = Sum16(image.data(), image.size());
  return {0xFD, 0x07, 'V', 'I', 'D', 'A', uint8_t(blockSum >> 8), uint8_t(blockSum), uint8_t(total >> 8),
          uint8_t(total), uint8_t(block + 1), uint8_t(count)};
}

void SendBlockSums(SimRig& rig, const Image& image) {
  const std::size_t count = image.size() / kBlock;
  for (std::size_t i = 0; i < count; ++i)
    ASSERT_TRUE(rig.SendOut(BlockSumCdb(image, i, count), image.data() + i * kBlock, kBlock));
}

void SendPhilips(SimRig& rig, const Image& image) {
  const auto count = static_cast<uint8_t>(image.size() / kBlock);
  for (uint8_t i = 0; i < count; ++i)
    ASSERT_TRUE(SendFirmwareBlock(*rig.atapi, 0, image.data() + i * kBlock, i, count, 0x1234, 0x5678));
}

void SendTwoBanks(SimRig& rig, const Image& image) {
  for (const uint8_t bank : {1, 0}) {
    for (uint16_t k = 0; k < 4; ++k)
      ASSERT_TRUE(WriteFlashBuffer(*rig.atapi, 0, image.data() + bank * kBank + k * kBlock, kBlock, bank, k * kBlock));
    ASSERT_TRUE(rig.Send(Cdb{0x3B, 0x07, 0x00, bank}));
  }
}

void DownloadBanks(SimRig& rig, const Image& image, uint8_t first, uint8_t end) {
  ASSERT_TRUE(SetDownloadMode(*rig.atapi, 0, 1));
  for (uint8_t bank = first; bank < end; ++bank)
    for (uint16_t k = 0; k < 4; ++k)
      ASSERT_TRUE(WriteFlashBuffer(*rig.atapi, 0, image.data() + bank * kBank + k * kBlock, kBlock, bank, k * kBlock));
  ASSERT_TRUE(SetDownloadMode(*rig.atapi, 0, 0));
}

// The kernel procedure's programming poll, reduced to what the drive must answer:
// returns the byte-4 values seen until the pass finished.
std::vector<int> PollKernel(SimRig& rig, int finishBank, bool upperHalf) {
  std::vector<int> banks;
  for (int polls = 0; polls < 1000; ++polls) {
    uint8_t sense[18] = {};
    EXPECT_TRUE(RequestSense(*rig.atapi, 0, sense, upperHalf ? 1 : 0, 0));
    const bool programming = (sense[2] == 0x02 && sense[12] == 0x04 && (sense[13] == 0x07 || sense[13] == 0x08)) ||
                             (sense[2] == 0x06 && sense[12] == 0x29);
    EXPECT_TRUE(programming) << "sense " << int(sense[2]) << "/" << int(sense[12]) << "/" << int(sense[13]);
    if (!programming) return banks;
    banks.push_back(sense[4]);
    if (sense[2] == 6 || sense[4] == finishBank) return banks;
    rig.clock.Sleep(std::chrono::milliseconds(500));
  }
  return banks;
}

void SendKernel(SimRig& rig, const Image& image) {
  const auto banks = static_cast<uint8_t>(image.size() / kBank);
  const bool twoPass = banks > 16;
  if (twoPass) {
    DownloadBanks(rig, image, 16, 32);
    ASSERT_TRUE(TriggerFlash(*rig.atapi, 0, 1));
    EXPECT_EQ(PollKernel(rig, 32, true).back(), 32);
    ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
  }
  DownloadBanks(rig, image, 0, twoPass ? 16 : banks);
  ASSERT_TRUE(TriggerFlash(*rig.atapi, 0, 0));
  EXPECT_EQ(PollKernel(rig, twoPass ? 16 : banks, twoPass).back(), twoPass ? 16 : banks);
  uint8_t sense[18];
  ASSERT_TRUE(RequestSense(*rig.atapi, 0, sense, twoPass ? 1 : 0, 1));
}

struct FlashPath {
  const char* name;
  std::size_t banks;
  std::function<void(SimRig&, const Image&)> send;
  bool cappedBanks;  // the last two bytes of each bank are never sent
};

class SimFlashPath : public testing::TestWithParam<FlashPath> {};

TEST_P(SimFlashPath, NewFirmwareIsProgrammedAndReported) {
  const FlashPath& path = GetParam();
  SimRig rig(TestDrive());
  const Image image = NewFirmware(path.banks);
  ASSERT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "1.00");
  path.send(rig, image);
  ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
  EXPECT_FALSE(rig.drive().Programming());
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "2.00");
  Image expected = image;
  if (path.cappedBanks)
    for (std::size_t bank = 1; bank <= path.banks; ++bank) expected[bank * kBank - 1] = expected[bank * kBank - 2] = 0;
  const auto& flash = rig.drive().Flash();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(image.size()), flash.end(),
                          [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    EveryProtocol, SimFlashPath,
    testing::Values(FlashPath{"BankWrite", 3, [](SimRig& r, const Image& i) { SendBankWrite(r, i, 4); }, true},
                    FlashPath{"BankWritePolled", 3, [](SimRig& r, const Image& i) { SendBankWrite(r, i, 5); }, true},
                    FlashPath{"HalfBanks", 3, SendHalfBanks, false},
                    FlashPath{"BlockSums", 3, SendBlockSums, false},
                    FlashPath{"Philips", 3, SendPhilips, false},
                    FlashPath{"TwoBanks", 2, SendTwoBanks, false},
                    FlashPath{"KernelOnePass", 8, SendKernel, false},
                    FlashPath{"KernelTwoPasses", 32, SendKernel, false}),
    [](const testing::TestParamInfo<FlashPath>& info) { return std::string(info.param.name); });

TEST(SimFlash, ProgressRunsOverVirtualTimeThenNoMedium) {
  SimRig rig(TestDrive());
  const Image image = NewFirmware(4);
  SendBankWrite(rig, image, 5);
  std::vector<std::array<int, 3>> seen;  // ASCQ, bank, count
  for (int poll = 0; poll < 10 && !TestUnitReady(*rig.atapi, 0); ++poll) {
    uint8_t sense[18];
    rig.atapi->GetSenseData(sense);
    if (sense[12] == 0x3A) break;
    ASSERT_EQ(sense[2], 0x02);
    ASSERT_EQ(sense[12], 0x04);
    seen.push_back({sense[13], sense[4], sense[5] << 8 | sense[6]});
    rig.clock.Sleep(std::chrono::milliseconds(500));
  }
  // 2000 ms of programming sampled every 500 ms, then the drive reports no medium.
  // Poll i comes i * 500 ms plus i + 1 commands of 1 ms each after the commit.
  ASSERT_EQ(seen.size(), 4u);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i][0], 0x08);
    EXPECT_EQ(seen[i][1], static_cast<int>(i));
    EXPECT_EQ(seen[i][2], static_cast<int>((i * 501 + 1) * 65535 / 2000));
  }
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x02, 0x3A, 0x01}));
}

TEST(SimFlash, KernelPassEndsWithUnitAttentionWhenTheProfileSaysSo) {
  SimDriveProfile drive = TestDrive();
  drive.finishWithUnitAttention = true;
  drive.progressAscq = 0x07;
  SimRig rig(drive);
  const Image image = NewFirmware(4);
  DownloadBanks(rig, image, 0, 4);
  ASSERT_TRUE(TriggerFlash(*rig.atapi, 0, 0));
  const std::vector<int> banks = PollKernel(rig, 99, false);
  EXPECT_EQ(banks, (std::vector<int>{0, 1, 2, 3, 4}));  // the 06/29 report carries the end bank
  uint8_t sense[18];
  ASSERT_TRUE(RequestSense(*rig.atapi, 0, sense, 0, 1));
  EXPECT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "2.00");
}

TEST(SimFlash, StaysInBootCodeForTheConfiguredFlashes) {
  SimDriveProfile drive = TestDrive();
  drive.stayInBoot = 2;
  SimRig rig(drive);
  const Image image = NewFirmware(2);
  for (const char* expected : {"BOOT", "BOOT", "2.00"}) {
    SendKernel(rig, image);
    ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
    EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), expected);
  }
  EXPECT_FALSE(rig.drive().InBootCode());
}

TEST(SimFlash, NeverFinishingDriveKeepsReportingProgress) {
  SimDriveProfile drive = TestDrive();
  drive.neverFinish = true;
  SimRig rig(drive);
  const Image image = NewFirmware(2);
  SendBankWrite(rig, image, 4);
  EXPECT_FALSE(WaitDriveReady(*rig.atapi, 0, 120));
  EXPECT_FALSE(TestUnitReady(*rig.atapi, 0));
  EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x02, 0x04, 0x08}));
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "1.00");
}

uint16_t ReportedChecksum(SimRig& rig) {
  uint8_t reply[8] = {};
  EXPECT_TRUE(ReadFirmwareChecksum(*rig.atapi, 0, reply));
  return static_cast<uint16_t>(reply[6] << 8 | reply[7]);
}

TEST(SimFlash, KernelHandshakeReportsTheChecksumOfItsFlashNotTheOneItWasGiven) {
  SimRig rig(TestDrive());
  const auto& flash = rig.drive().Flash();
  // A kernel image keeps its own checksum in its last 8 bytes: the drive leaves them out, as
  // the image's checksum does; a two-pass image ends with its upper half. The drive sums the
  // banks the flash programmed, not those a larger image left above a smaller one.
  for (const std::size_t banks : {32, 2}) {
    const Image kernel = NewFirmware(banks, banks == 32 ? "3.00" : "2.00");
    SendKernel(rig, kernel);
    ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
    ASSERT_TRUE(SetFirmwareChecksum(*rig.atapi, 0, 0x1234, 0xA55A));
    const uint16_t tail = Sum16(kernel.data() + kernel.size() - 8, 8);
    ASSERT_NE(tail, 0);
    EXPECT_EQ(ReportedChecksum(rig), uint16_t(Sum16(flash.data(), banks * kBank) - tail)) << banks;
  }
  ASSERT_NE(Sum16(flash.data() + 2 * kBank, flash.size() - 2 * kBank), 0);
  // An excluded block over the image's end leaves those 8 bytes out only once.
  rig.drive().Settings().checksumExclude = {{2 * kBank - 16, 16}};
  const uint16_t lastSixteen = Sum16(flash.data() + 2 * kBank - 16, 16);
  EXPECT_EQ(ReportedChecksum(rig), uint16_t(Sum16(flash.data(), 2 * kBank) - lastSixteen));
  rig.drive().Settings().checksumExclude.clear();
  SendBankWrite(rig, NewFirmware(2, "2.01"), 4);  // new firmware without a checksum of its own
  ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
  EXPECT_EQ(ReportedChecksum(rig), Sum16(flash.data(), flash.size()));
}

TEST(SimFlash, CommitOfThirtyTwoBanksWrapsItsCode) {
  SimRig rig(TestDrive());
  const Image image = NewFirmware(32);
  SendBankWrite(rig, image, 5);  // bank-count code E0h + 32 = 00h
  EXPECT_EQ(rig.drive().CommandCount(SimCommand::FlashData), 33);
  ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120));
  EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "2.00");
}

// Behind a transport that cuts CDBs to their group length, bytes 10-11 of 5Ah and
// FDh commands arrive as zeros: the drive takes whole flashes without them, and
// keeps every check that does not need them.
TEST(SimFlash, CdbsCutToTheirGroupLengthStillFlash) {
  SimDriveProfile profile = TestDrive();
  profile.cdbsCutToGroupLength = true;
  const Image image = NewFirmware(3);
  const auto cut = [](Cdb cdb) {
    cdb[10] = cdb[11] = 0;
    return cdb;
  };
  SimRig banks(profile);
  SendBankData(banks, image);
  // Bank 2 again, with whatever the transport left in bytes 10-11.
  ASSERT_TRUE(banks.SendOut(Cdb{0x5A, 0x00, 0x38, 'O', 'R', 0xA0, 0x05, 2, 0xFF, 0xFE, 0xAB, 0xCD},
                            image.data() + 2 * kBank, 65534));
  ASSERT_TRUE(SendCommit(banks, image.data(), 4, 3, 0));  // the sum of the download is not there
  ASSERT_TRUE(WaitDriveReady(*banks.atapi, 0, 120));
  EXPECT_EQ(ReadFirmwareVersion(*banks.atapi, 0), "2.00");
  // Read-back: the transfer length stands in for bytes 10-11.
  std::vector<uint8_t> piece(256);
  ASSERT_TRUE(banks.Send(Cdb{0x5A, 0x00, 0x38, 'O', 'R', 0x11, 0xFE, 0x00, 0x00, 0x01, 0x00, 0x00}, piece.data(), 256,
                         kDirIn));
  EXPECT_TRUE(std::equal(piece.begin(), piece.end(), image.begin() + 0x1FE00));
  // Block sums: each block is the next, the last is the one that completes the total.
  SimRig blocks(profile);
  Cdb wrong = cut(BlockSumCdb(image, 0, 12));
  wrong[7] ^= 1;
  EXPECT_FALSE(blocks.SendOut(wrong, image.data(), kBlock));
  for (std::size_t i = 0; i < 12; ++i) {
    EXPECT_FALSE(blocks.drive().Programming()) << i;
    ASSERT_TRUE(blocks.SendOut(cut(BlockSumCdb(image, i, 12)), image.data() + i * kBlock, kBlock));
  }
  EXPECT_TRUE(blocks.drive().Programming());
  ASSERT_TRUE(WaitDriveReady(*blocks.atapi, 0, 120));
  EXPECT_EQ(ReadFirmwareVersion(*blocks.atapi, 0), "2.00");
}

// Downloads the drive must refuse: the flash stays as it was.
TEST(SimFlash, InconsistentDownloadsAreRefused) {
  const Image image = NewFirmware(3);
  struct Case {
    const char* name;
    std::function<bool(SimRig&)> send;  // the command that must fail
  };
  const std::vector<Case> cases{
      {"commit with a wrong bank count",
       [&](SimRig& r) {
         SendBankData(r, Image(image.begin(), image.begin() + 2 * kBank));
         return SendCommit(r, image.data(), 4, 3, BankDataSum(image));
       }},
      {"commit whose 128 bytes differ",
       [&](SimRig& r) {
         SendBankData(r, image);
         const Image other(128, 0x77);
         return SendCommit(r, other.data(), 4, 3, BankDataSum(image));
       }},
      {"block with a wrong sum",
       [&](SimRig& r) {
         Cdb cdb = BlockSumCdb(image, 0, 12);
         cdb[7] ^= 1;
         return r.SendOut(cdb, image.data(), kBlock);
       }},
      {"block out of sequence",
       [&](SimRig& r) { return r.SendOut(BlockSumCdb(image, 2, 12), image.data() + 2 * kBlock, kBlock); }},
      {"last block with a wrong total",
       [&](SimRig& r) {
         for (std::size_t i = 0; i + 1 < 12; ++i) r.SendOut(BlockSumCdb(image, i, 12), image.data() + i * kBlock, kBlock);
         Cdb last = BlockSumCdb(image, 11, 12);
         last[9] ^= 1;
         return r.SendOut(last, image.data() + 11 * kBlock, kBlock);
       }},
      {"upper banks triggered as the lower half",
       [&](SimRig& r) {
         SetDownloadMode(*r.atapi, 0, 1);
         WriteFlashBuffer(*r.atapi, 0, image.data(), kBlock, 17, 0);
         return TriggerFlash(*r.atapi, 0, 0);
       }},
      {"trigger with nothing downloaded", [&](SimRig& r) { return TriggerFlash(*r.atapi, 0, 0); }},
      {"firmware block with mismatched copies",
       [&](SimRig& r) {
         const Cdb cdb{0xFA, 0x34, 0x12, 0x78, 0x56, 0x00, 0x01, 0x34, 0x12, 0x78, 0x57, 0x0C};
         return r.SendOut(cdb, image.data(), kBlock);
       }},
  };
  for (const Case& c : cases) {
    SimRig rig(TestDrive());
    const Image before = rig.drive().Flash();
    EXPECT_FALSE(c.send(rig)) << c.name;
    EXPECT_EQ(rig.Sense()[0], 0x05) << c.name;
    EXPECT_TRUE(WaitDriveReady(*rig.atapi, 0, 120)) << c.name;
    EXPECT_TRUE(rig.drive().Flash() == before) << c.name;
  }
}

// A drive refuses with 05/24/00 what a drive of its flash family would not take, and
// programs nothing.
TEST(SimFlash, StrictDriveRefusesWhatItsFamilyWouldNotTake) {
  const Image image = NewFirmware(2);
  const Image upper = NewFirmware(32);
  const auto bankData = [&](SimRig& r, uint16_t bytes1011) {
    const Cdb cdb{0x5A, 0x00, 0x38, 'O', 'R', 0xA0, 0x05, 0, 0xFF, 0xFE, uint8_t(bytes1011 >> 8), uint8_t(bytes1011)};
    return r.SendOut(cdb, image.data(), 65534);
  };
  struct Case {
    const char* name;
    int family;
    std::function<bool(SimRig&)> send;  // the command that must fail
  };
  const std::vector<Case> cases{
      {"commit sub-function 5 from flash type 1", 1,
       [&](SimRig& r) {
         SendBankData(r, image);
         return SendCommit(r, image.data(), 5, 2, BankDataSum(image));
       }},
      {"commit sub-function 4 from flash type 4", 4,
       [&](SimRig& r) {
         SendBankData(r, image);
         return SendCommit(r, image.data(), 4, 2, BankDataSum(image));
       }},
      {"commit whose checksum is 0", 1,
       [&](SimRig& r) {
         SendBankData(r, image);
         return SendCommit(r, image.data(), 4, 2, 0);
       }},
      {"commit whose checksum is not the sum downloaded", 3,
       [&](SimRig& r) {
         SendBankData(r, image);
         return SendCommit(r, image.data(), 4, 2, static_cast<uint16_t>(BankDataSum(image) + 1));
       }},
      {"bank data with bytes 10-11 set", 1, [&](SimRig& r) { return bankData(r, 0x1234); }},
      {"bank data of an odd length", 5,
       [&](SimRig& r) {
         const Cdb cdb{0x5A, 0x00, 0x38, 'O', 'R', 0xA0, 0x05, 0, 0x10, 0x01, 0, 0};
         return r.SendOut(cdb, image.data(), 0x1001);
       }},
      {"bank data to a kernel drive", 6, [&](SimRig& r) { return bankData(r, 0); }},
      {"kernel data before download mode", 6,
       [&](SimRig& r) { return WriteFlashBuffer(*r.atapi, 0, image.data(), kBlock, 0, 0); }},
      {"kernel data of an odd length", 6,
       [&](SimRig& r) {
         SetDownloadMode(*r.atapi, 0, 1);
         return WriteFlashBuffer(*r.atapi, 0, image.data(), kBlock - 1, 0, 0);
       }},
      {"Philips block to a kernel drive", 6,
       [&](SimRig& r) { return SendFirmwareBlock(*r.atapi, 0, image.data(), 0, 8, 0x1234, 0x5678); }},
      {"Philips block whose values differ from the first block's", kSimPhilipsFamily,
       [&](SimRig& r) {
         SendFirmwareBlock(*r.atapi, 0, image.data(), 0, 8, 0x1234, 0x5678);
         return SendFirmwareBlock(*r.atapi, 0, image.data() + kBlock, 1, 8, 0x5678, 0x1234);
       }},
      {"REQUEST SENSE of a two-pass flash without the upper-half flag", 6,
       [&](SimRig& r) {
         DownloadBanks(r, upper, 16, 32);
         TriggerFlash(*r.atapi, 0, 1);
         uint8_t sense[18];
         return RequestSense(*r.atapi, 0, sense, 0, 0);
       }},
  };
  for (const Case& c : cases) {
    SimDriveProfile drive = TestDrive();
    drive.flashFamily = c.family;
    SimRig rig(drive);
    const Image before = rig.drive().Flash();
    EXPECT_FALSE(c.send(rig)) << c.name;
    EXPECT_EQ(rig.Sense(), (std::array<uint8_t, 3>{0x05, 0x24, 0x00})) << c.name;
    rig.clock.Sleep(std::chrono::seconds(10));  // longer than any programming run
    EXPECT_TRUE(rig.drive().Flash() == before) << c.name;
  }
}

TEST(SimFlash, EachFamilyTakesItsOwnProcedure) {
  const Image image = NewFirmware(2);
  struct Case {
    int family;
    std::function<void(SimRig&)> send;
  };
  const std::vector<Case> cases{{1, [&](SimRig& r) { SendBankWrite(r, image, 4); }},
                                {4, [&](SimRig& r) { SendBankWrite(r, image, 5); }},
                                {7, [&](SimRig& r) { SendHalfBanks(r, image); }},
                                {2, [&](SimRig& r) { SendBlockSums(r, image); }},
                                {6, [&](SimRig& r) { SendKernel(r, image); }},
                                {8, [&](SimRig& r) { SendTwoBanks(r, image); }},
                                {kSimPhilipsFamily, [&](SimRig& r) { SendPhilips(r, image); }}};
  for (const Case& c : cases) {
    SimDriveProfile drive = TestDrive();
    drive.flashFamily = c.family;
    SimRig rig(drive);
    c.send(rig);
    ASSERT_TRUE(WaitDriveReady(*rig.atapi, 0, 120)) << c.family;
    EXPECT_EQ(ReadFirmwareVersion(*rig.atapi, 0), "2.00") << c.family;
  }
}

}  // namespace
}  // namespace ofs::test
