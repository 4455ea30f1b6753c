// Every command of the set, byte for byte, with its direction and length.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "drive/Winfunc.h"
#include "DriveFixture.h"

namespace ofs::test {
namespace {

struct CdbCase {
  const char* name;
  std::function<void(TAtapiImp&, std::vector<uint8_t>&)> send;  // second argument: a spare buffer
  const char* cdb;
  uint8_t direction;
  uint32_t length;
};

const std::vector<CdbCase>& Cases() {
  static const std::vector<CdbCase> cases = {
      {"TestUnitReady", [](TAtapiImp& a, auto&) { TestUnitReady(a, 1); }, "000000000000000000000000", kDirNone, 0},
      {"RequestSense", [](TAtapiImp& a, auto& b) { RequestSense(a, 1, b.data(), 0, 0); },
       "030000001200000000000000", kDirIn, 18},
      {"RequestSenseUpperHalf", [](TAtapiImp& a, auto& b) { RequestSense(a, 1, b.data(), 1, 0); },
       "030000101200000000000000", kDirIn, 18},
      {"RequestSenseFinish", [](TAtapiImp& a, auto& b) { RequestSense(a, 1, b.data(), 0, 1); },
       "030000001280000000000000", kDirIn, 18},
      {"RequestSenseFlagTwoIsNotOne", [](TAtapiImp& a, auto& b) { RequestSense(a, 1, b.data(), 2, 2); },
       "030000001200000000000000", kDirIn, 18},
      {"Inquiry", [](TAtapiImp& a, auto&) { ReadModelName(a, 1); }, "12000000ff00000000000000", kDirIn, 255},
      {"Capability", [](TAtapiImp& a, auto& b) { QueryDriveCapability(a, 1, b.data(), 5); },
       "5a00344f5200000000000000", kDirIn, 8},
      {"ReadChecksum", [](TAtapiImp& a, auto& b) { ReadFirmwareChecksum(a, 1, b.data()); },
       "5a00344f520b000000000000", kDirIn, 8},
      {"SetChecksum", [](TAtapiImp& a, auto&) { SetFirmwareChecksum(a, 1, 0xA1B2, 0xC3D4); },
       "5a00344f520b01a1b2c3d400", kDirNone, 0},
      {"Prevent", [](TAtapiImp& a, auto&) { PreventMediumRemoval(a, 1, 1); }, "1e0000000100000000000000", kDirNone,
       0},
      {"Allow", [](TAtapiImp& a, auto&) { PreventMediumRemoval(a, 1, 0); }, "1e0000000000000000000000", kDirNone, 0},
      {"FirmwareBlock",
       [](TAtapiImp& a, auto& b) { SendFirmwareBlock(a, 1, b.data(), 0x07, 0x20, 0x1234, 0xABCD); },
       "fa3412cdab0701" "3412cdab20", kDirOut, 16384},
      {"LoadTray", [](TAtapiImp& a, auto&) { LoadTray(a, 1); }, "1b0100000300000000000000", kDirNone, 0},
      {"EjectTray", [](TAtapiImp& a, auto&) { EjectTray(a, 1); }, "1b0100000200000000000000", kDirNone, 0},
      {"TrayOpen", [](TAtapiImp& a, auto&) { IsTrayOpen(a, 1); }, "4a0100001000000010000000", kDirIn, 16},
      {"MediumPresent", [](TAtapiImp& a, auto&) { IsMediumPresent(a, 1); }, "4a0100005000000010000000", kDirIn, 16},
      {"ReadRom", [](TAtapiImp& a, auto& b) { ReadRomData(a, 1, b.data(), 0xBEEF, 0x03, 0x0400); },
       "5a00384f5211beef00030400", kDirIn, 0x400},
      {"KernelInfo", [](TAtapiImp& a, auto& b) { ReadKernelInfo(a, 1, b.data()); }, "5a00384f52a3000000000000",
       kDirIn, 65535},
      {"WriteFlashBuffer", [](TAtapiImp& a, auto& b) { WriteFlashBuffer(a, 1, b.data(), 0x1000, 0x05, 0x8000); },
       "3b060005800000100000" "0000", kDirOut, 0x1000},
      {"TriggerLower", [](TAtapiImp& a, auto&) { TriggerFlash(a, 1, 0); }, "3b0700000000100000000000", kDirNone, 0},
      {"TriggerUpper", [](TAtapiImp& a, auto&) { TriggerFlash(a, 1, 1); }, "3b0700100000100000000000", kDirNone, 0},
      {"DownloadOn", [](TAtapiImp& a, auto&) { SetDownloadMode(a, 1, 1); }, "3b0101000000000000000000", kDirNone, 0},
      {"DownloadOff", [](TAtapiImp& a, auto&) { SetDownloadMode(a, 1, 0); }, "3b0100000000000000000000", kDirNone,
       0},
  };
  return cases;
}

void PrintTo(const CdbCase& c, std::ostream* os) { *os << c.name; }

class CdbTemplate : public DriveTest, public ::testing::WithParamInterface<CdbCase> {};

TEST_P(CdbTemplate, SendsTheTemplateWithItsArguments) {
  std::vector<uint8_t> spare(65536);
  for (std::size_t i = 0; i < spare.size(); ++i) spare[i] = static_cast<uint8_t>(i * 7);
  GetParam().send(*atapi, spare);
  ASSERT_EQ(recorder->commands.size(), 1u);
  const RecordedCommand& c = recorder->commands[0];
  EXPECT_EQ(CdbHex(c.cdb), GetParam().cdb);
  EXPECT_EQ(c.drive, 1);
  EXPECT_EQ(c.direction, GetParam().direction);
  EXPECT_EQ(c.length, GetParam().length);
  if (c.direction == kDirOut) {
    EXPECT_EQ(c.dataOut, std::vector<uint8_t>(spare.begin(), spare.begin() + c.length));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, CdbTemplate, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ofs::test
