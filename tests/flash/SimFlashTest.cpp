// Every procedure against the simulated drive: afterwards the drive's flash
// holds the image, it answers with the new revision, and verification passes.
#include <gtest/gtest.h>

#include "drive/AtapiImp.h"
#include "drive/CommandTrace.h"
#include "drive/sim/SimBackend.h"
#include "firmware/Firmware.h"
#include "flash/FlashProcedures.h"
#include "flash/SendPlan.h"
#include "flash/Verify.h"
#include "firmware/OfsBuilder.h"
#include "support/ScriptedView.h"

namespace ofs::test {
namespace {

struct SimCase {
  const char* name;
  int type;  // -1: Philips image
  uint32_t length;
  uint32_t maxBankSize;
  std::vector<uint32_t> bankSizes;
  uint64_t firstOutside = 0;  // the first image byte the procedure does not carry to its place
  const char* why = "";       // and the reason the refusal gives for it
};

class SimFlash : public ::testing::TestWithParam<SimCase> {
 protected:
  void SetUp() override {
    SimProfile profile;
    profile.virtualClock = true;
    profile.drives.emplace_back();
    profile.drives[0].capabilities = capabilities;
    profile.drives[0].stayInBoot = stayInBoot;
    profile.drives[0].flashSize = flashSize;
    auto backend = std::make_unique<SimBackend>(profile, clock);
    sim = backend.get();
    atapi = std::make_unique<TAtapiImp>(std::move(backend), clock, true);
  }

  // The image with the bytes a procedure never sends left at zero, as the drive's flash holds them.
  void MakeImage(const SimCase& c) {
    build::InquiryTemplate identity;
    identity.offset = 0x200;
    identity.revision = "2.00";
    image = build::MakeFlatImage(c.length, 42, {identity});
    parameter.AtapiFlashType = static_cast<uint8_t>(c.type < 0 ? 0 : c.type);
    parameter.MaxBankSize = c.maxBankSize;
    parameter.BankSizes = c.bankSizes;
    for (std::size_t bank = 0; bank * 65536 < image.size(); ++bank) {
      std::size_t used = 65536;
      if (c.maxBankSize == 65536 && bank < c.bankSizes.size()) used = c.bankSizes[bank];
      if ((c.type == 1 || c.type == 3 || c.type == 4 || c.type == 5) && c.maxBankSize != 65536) used = 65534;
      for (std::size_t i = bank * 65536 + used; i < std::min(image.size(), (bank + 1) * 65536); ++i) image[i] = 0;
    }
    // The drive programs only a commit that carries the sum of what it received.
    parameter.HeaderCheckSum = static_cast<uint16_t>(ComputeImageCheckSum(image.data(), image.size(), parameter));
    imageChecksum = ComputeFixedDataCheckSum(image.data(), image.size(), parameter);
  }

  FlashContext Context() {
    return FlashContext{*atapi, view, image.data(), static_cast<uint32_t>(image.size()), parameter,
                        imageChecksum, senseData, false, false};
  }

  FlashResult Flash(const SimCase& c) {
    auto ctx = Context();
    if (c.type < 0)
      return FlashPhilipsImage(ctx, 0, (c.length + 40) / 16384, parameter.HeaderCheckSum, parameter.TrailerWord);
    return FlashByType(ctx, 0);
  }

  void ExpectFlashHoldsImage() {
    const auto& flash = sim->Drive(0).Flash();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(ReadFirmwareVersion(*atapi, 0), "2.00");
    auto ctx = Context();
    EXPECT_EQ(VerifyFlash(ctx, 0), std::nullopt);
    EXPECT_TRUE(view.boxes.empty());
  }

  uint16_t capabilities = 0;
  int stayInBoot = 0;
  uint32_t flashSize = 2u << 20;
  VirtualClock clock;
  SimBackend* sim = nullptr;
  std::unique_ptr<TAtapiImp> atapi;
  ScriptedView view;
  std::vector<uint8_t> image;
  SOFSParameter parameter;
  uint16_t imageChecksum = 0;
  SenseData senseData{};
};

TEST_P(SimFlash, FlashHoldsTheImage) {
  MakeImage(GetParam());
  EXPECT_EQ(ReadFirmwareVersion(*atapi, 0), "1.00");
  ASSERT_EQ(Flash(GetParam()), std::nullopt);
  ExpectFlashHoldsImage();
}

INSTANTIATE_TEST_SUITE_P(
    Procedures, SimFlash,
    ::testing::Values(SimCase{"BankWrite", 1, 4 * 65536, 65536, {65534, 65534, 65534, 4097}},
                      SimCase{"BankWriteCapped", 3, 200000, 0x20000, {}},
                      SimCase{"BankWriteOddEnd", 5, 2 * 65536 + 1001, 0x8000, {}},
                      SimCase{"BankWritePolled", 4, 3 * 65536, 65536, {65534, 65534, 3}},
                      SimCase{"BlockSums", 2, 6 * 16384, 0, {}},
                      SimCase{"HalfBanks", 7, 3 * 65536 + 100, 0, {}},
                      SimCase{"KernelOnePass", 6, 8 * 65536, 0, {}},
                      SimCase{"KernelTwoPasses", 6, 32 * 65536, 0, {}},
                      SimCase{"TwoBanks", 0, 100000, 0, {}},
                      SimCase{"Philips", -1, 5 * 16384 - 40, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Built from each procedure's own plan: what it carries holds data, the rest is zero.
class SimPlan : public SimFlash {
 protected:
  void SetUp() override {
    flashSize = 8u << 20;
    SimFlash::SetUp();
  }
  bool Philips() const { return GetParam().type < 0; }
  // Zeroes what the plan leaves out and returns the first such byte.
  uint64_t ZeroOutsidePlan() {
    std::vector<bool> carried(image.size());
    for (const ImagePiece& p : PlanFor(Context(), Philips()).pieces)
      for (uint64_t i = p.offset; i < std::min<uint64_t>(p.offset + p.length, image.size()); ++i) carried[i] = true;
    uint64_t first = image.size();
    for (uint64_t i = image.size(); i-- > 0;) {
      if (carried[i]) continue;
      image[i] = 0;
      first = i;
    }
    parameter.HeaderCheckSum = static_cast<uint16_t>(ComputeImageCheckSum(image.data(), image.size(), parameter));
    imageChecksum = ComputeFixedDataCheckSum(image.data(), image.size(), parameter);
    return first;
  }
};

TEST_P(SimPlan, OneByteOutsideThePlanIsRefusedAndZeroThereFlashesWhole) {
  const SimCase& c = GetParam();
  MakeImage(c);
  const uint64_t outside = ZeroOutsidePlan();
  ASSERT_EQ(outside, GetParam().firstOutside);

  image[outside] = 0x01;
  const auto refusal = WholeImageRefusal(Context(), Philips());
  ASSERT_TRUE(refusal.has_value());
  char where[32];
  std::snprintf(where, sizeof where, "byte %llXh is not zero", static_cast<unsigned long long>(outside));
  EXPECT_NE(refusal->box.find(where), std::string::npos) << refusal->box;
  EXPECT_NE(refusal->box.find(c.why), std::string::npos) << refusal->box;
  // The sequence's own last line says that nothing was written, once.
  EXPECT_EQ(refusal->box.find("othing was written"), std::string::npos) << refusal->box;

  image[outside] = 0;
  EXPECT_EQ(WholeImageRefusal(Context(), Philips()), std::nullopt);
  ASSERT_EQ(Flash(c), std::nullopt);
  ExpectFlashHoldsImage();
}

INSTANTIATE_TEST_SUITE_P(
    Procedures, SimPlan,
    ::testing::Values(SimCase{"TwoBanks", 8, 8 * 65536, 0, {}, 0x20000, "it sends banks 0 and 1 only"},
                      SimCase{"BankWriteUsedLength", 1, 2 * 65536, 65536, {65534, 4097}, 65534,
                              "only as far as the bank's used length"},
                      SimCase{"BankWritePadByte", 1, 2 * 65536, 65536, {4097, 65534}, 4097,
                              "a zero byte in place of the byte after its end"},
                      SimCase{"BankWritePolled", 4, 3 * 65536, 65536, {65534, 65534, 3}, 65534, "used length"},
                      SimCase{"BlockSumsWholeBlocks", 2, 6 * 16384 + 100, 0, {}, 6 * 16384, "whole 16 KiB blocks"},
                      SimCase{"KernelWholeBanks", 6, 8 * 65536 + 10, 0, {}, 8 * 65536, "whole 64 KiB banks"},
                      SimCase{"KernelTwoPasses", 6, 32 * 65536 + 1, 0, {}, 32 * 65536, "whole 64 KiB banks"},
                      SimCase{"Philips", -1, 5 * 16384 - 41, 0, {}, 4 * 16384, "(length + 40) div 16384 blocks"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SendPlan, ImagesNoProcedureCanCarryAreRefusedWithTheProcedureText) {
  struct Case {
    int type;  // -1: Philips image
    uint32_t length;
    std::vector<uint32_t> bankSizes;
  };
  for (const Case& c : {Case{6, 65535, {}}, Case{6, 20 * 65536, {}}, Case{6, 33 * 65536, {}},
                        Case{1, 2 * 65536, {65535}}, Case{5, 65536, {100, 100}}, Case{7, 256 * 65536 + 1, {}},
                        Case{3, 257 * 65536, {}}, Case{-1, 256 * 16384 - 40, {}}}) {
    std::vector<uint8_t> image(c.length);
    SOFSParameter parameter;
    parameter.AtapiFlashType = static_cast<uint8_t>(std::max(c.type, 0));
    parameter.MaxBankSize = c.bankSizes.empty() ? 0 : 65536;
    parameter.BankSizes = c.bankSizes;
    VirtualClock clock;
    auto atapi = std::make_unique<TAtapiImp>(std::make_unique<SimBackend>(SimProfile{}, clock), clock, true);
    ScriptedView view;
    SenseData sense{};
    const FlashContext ctx{*atapi, view, image.data(), c.length, parameter, 0, sense, false, false};
    const auto refusal = WholeImageRefusal(ctx, c.type < 0);
    ASSERT_TRUE(refusal.has_value()) << c.type << " " << c.length;
    EXPECT_EQ(refusal->box, "Write Buffer Fail !");
    const std::string name = c.type < 0 ? std::string("A Philips image") : "Flash type " + std::to_string(c.type);
    EXPECT_TRUE(refusal->detail.starts_with(name + " cannot carry this image")) << refusal->detail;
  }
}

class SimKernel : public SimFlash {};

TEST_F(SimKernel, BootOnceThenRetriedAndHandShaken) {
  capabilities = (1 << 11) | (1 << 13);
  stayInBoot = 1;
  SetUp();
  const SimCase c{"Kernel", 6, 4 * 65536, 0, {}};
  MakeImage(c);

  ASSERT_EQ(Flash(c), std::nullopt);
  EXPECT_EQ(view.lines.front(), "Last flash fail !");
  EXPECT_EQ(sim->Drive(0).ExpectedChecksum(), imageChecksum);
  ExpectFlashHoldsImage();
}

// The drive checks the programming of the image it was just given, not the banks a larger
// image left above it: each flash hands over, and verifies, its own checksum.
TEST_F(SimKernel, ASmallImageAfterALargeOneHandsShakeAndVerifies) {
  capabilities = (1 << 11) | (1 << 13);
  SetUp();
  for (const uint32_t banks : {32, 4}) {
    const SimCase c{"Kernel", 6, banks * 65536, 0, {}};
    MakeImage(c);
    ASSERT_EQ(Flash(c), std::nullopt) << banks;
    ExpectFlashHoldsImage();
  }
}

TEST_F(SimKernel, RequestSenseThatAlwaysFailsRunsIntoTheTimeOut) {
  // The poll asks again at once; only the drive's own command time moves the clock.
  SimFailure failure;
  failure.selector.command = SimCommand::RequestSense;
  failure.times = 0;
  sim->Drive(0).AddFailure(failure);
  const SimCase c{"Kernel", 6, 4 * 65536, 0, {}};
  MakeImage(c);

  EXPECT_EQ(Flash(c), "Flash progress TimeOut !\n");
  EXPECT_GT(clock.Now(), std::chrono::seconds(120));
  EXPECT_LT(clock.Now(), std::chrono::seconds(121));
}

}  // namespace
}  // namespace ofs::test
