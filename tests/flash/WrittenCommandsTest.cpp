// Images past the old limits go out as the procedures are written: the bank byte is the
// bank index, the commit names (E0h + banks) modulo 256, block numbers and their count go
// modulo 256, and bank pieces carry at most 65534 bytes. The drive holds what was carried.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "drive/AtapiImp.h"
#include "drive/sim/SimBackend.h"
#include "flash/FlashProcedures.h"
#include "flash/SendPlan.h"
#include "support/RecordingBackend.h"
#include "support/ScriptedView.h"

namespace ofs::test {
namespace {

// Bytes 7 to 11 of the k-th data command, as the written procedure fills them.
using Fields = std::array<uint32_t, 3>;  // byte 7 (FDh: byte 10), bytes 8-9 (FDh: byte 11), bytes 10-11

struct WrittenCase {
  const char* name;
  uint8_t type;
  uint32_t length;
  uint32_t maxBankSize;
  uint32_t bankSize;  // each entry of BankSizes, with MaxBankSize 65536
  uint32_t commands;  // data commands
  std::function<Fields(uint32_t k)> fields;
  int commitCode;  // -1: no commit
};

const WrittenCase kCases[] = {
    {"BankWrite32BanksLastZero", 1, 32 * 65536, 65536, 65534, 32, [](uint32_t k) { return Fields{k, 0xFFFE, 0}; },
     0x00},
    {"BankWrite38OddBanks", 5, 38 * 65536, 65536, 40001, 38, [](uint32_t k) { return Fields{k, 40002, 0}; }, 0x06},
    {"HalfBanks32BanksLastZero", 7, 32 * 65536, 0, 0, 64,
     [](uint32_t k) { return Fields{k / 2, k % 2 * 0x8000, 0}; }, 0x00},
    {"HalfBanks38Banks", 7, 37 * 65536 + 100, 0, 0, 76, [](uint32_t k) { return Fields{k / 2, k % 2 * 0x8000, 0}; },
     0x06},
    {"BankWrite200000", 3, 200000, 0x20000, 0, 4,
     [](uint32_t k) { return Fields{k, k < 3 ? 65534u : 3392u, 0}; }, 0xE4},
    {"BankWritePolledFull128KSlots", 4, 16 * 0x20000, 0x20000, 0, 32, [](uint32_t k) { return Fields{k, 65534, 0}; },
     0x00},
    {"BlockSums320", 2, 320 * 16384, 0, 0, 320, [](uint32_t k) { return Fields{(k + 1) % 256, 320 % 256, 0}; }, -1},
};

class WrittenCommands : public ::testing::TestWithParam<WrittenCase> {
 protected:
  WrittenCommands() {
    SimProfile profile;
    profile.virtualClock = true;
    profile.drives.emplace_back();
    profile.drives[0].flashSize = 8u << 20;
    sim = std::make_unique<SimBackend>(profile, clock);
    auto backend = std::make_unique<RecordingBackend>(sim->Enumerate());
    recording = backend.get();
    recording->handler = [this](const RecordedCommand& c, uint8_t* buffer, SenseData& sense) {
      return sim->Execute(c.cdb.data(), buffer, c.length, c.direction, sense);
    };
    atapi = std::make_unique<TAtapiImp>(std::move(backend), clock, true);
  }

  // Every byte set, but those the header says a bank does not use, and bank 31 left zero.
  void MakeImage(const WrittenCase& c) {
    image.assign(c.length, 0);
    uint32_t seed = 7;
    for (uint32_t i = 0; i < c.length; ++i) {
      seed = seed * 1103515245u + 12345u;
      const bool unused = c.maxBankSize == 65536 && i % 65536 >= c.bankSize;
      if (!unused && i / 65536 != 31) image[i] = static_cast<uint8_t>(seed >> 16 | 1);
    }
    parameter.AtapiFlashType = c.type;
    parameter.MaxBankSize = c.maxBankSize;
    if (c.maxBankSize == 65536) parameter.BankSizes.assign(c.length / 65536, c.bankSize);
    // The drive gets no bytes FFFEh-FFFFh of a bank with other slot sizes, and programs zeros there.
    expected = image;
    if (c.maxBankSize > 65536)
      for (uint32_t i = 65534; i < c.length; ++i) expected[i] = i % 65536 < 65534 ? expected[i] : 0;
    parameter.HeaderCheckSum = static_cast<uint16_t>(std::accumulate(expected.begin(), expected.end(), 0u));
  }

  VirtualClock clock;
  std::unique_ptr<SimBackend> sim;
  RecordingBackend* recording = nullptr;
  std::unique_ptr<TAtapiImp> atapi;
  ScriptedView view;
  std::vector<uint8_t> image, expected;
  SOFSParameter parameter;
  SenseData senseData{};
};

TEST_P(WrittenCommands, SendsWhatTheProcedureSaysAndTheDriveHoldsIt) {
  const WrittenCase& c = GetParam();
  MakeImage(c);
  FlashContext ctx{*atapi, view, image.data(), c.length, parameter, 0, senseData, false, false};
  ASSERT_EQ(WholeImageRefusal(ctx, false), std::nullopt);
  ASSERT_EQ(FlashByType(ctx, 0), std::nullopt);

  std::vector<RecordedCommand> data, commits;
  for (const RecordedCommand& r : recording->commands) {
    const bool vendor = r.cdb[0] == 0x5A && r.cdb[5] == 0xA0;
    if (vendor && r.length == 128 && r.cdb[8] == 0 && r.cdb[9] == 128) {
      commits.push_back(r);
    } else if (vendor || r.cdb[0] == 0xFD) {
      data.push_back(r);
    }
  }
  ASSERT_EQ(data.size(), c.commands);
  const uint16_t imageSum = static_cast<uint16_t>(std::accumulate(image.begin(), image.end(), 0u));
  for (uint32_t k = 0; k < c.commands; ++k) {
    const auto& cdb = data[k].cdb;
    const Fields want = c.fields(k);
    if (c.type == 2) {
      EXPECT_EQ((Fields{cdb[10], cdb[11], uint32_t{cdb[8]} << 8 | cdb[9]}), (Fields{want[0], want[1], imageSum}))
          << "block " << k;
    } else {
      EXPECT_EQ((Fields{cdb[7], uint32_t{cdb[8]} << 8 | cdb[9], uint32_t{cdb[10]} << 8 | cdb[11]}), want)
          << "command " << k;
    }
  }
  ASSERT_EQ(commits.size(), c.commitCode < 0 ? 0u : 1u);
  if (c.commitCode >= 0) {
    EXPECT_EQ(commits[0].cdb[7], c.commitCode);
    EXPECT_EQ(uint32_t{commits[0].cdb[10]} << 8 | commits[0].cdb[11], parameter.HeaderCheckSum);
  }
  const std::vector<uint8_t>& flash = sim->Drive(0).Flash();
  ASSERT_GE(flash.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), flash.begin()));
}

INSTANTIATE_TEST_SUITE_P(PastTheOldLimits, WrittenCommands, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ofs::test
