// Verification by the drive's checksum or by reading the flash back.
#include <gtest/gtest.h>

#include "ScriptedDrive.h"
#include "flash/Verify.h"

namespace ofs::test {
namespace {

constexpr uint16_t kChecksumCapability = 1 << 11;

class Verify : public ::testing::Test {
 protected:
  // The failure's box as the update sequence shows it.
  bool Run() {
    auto ctx = h.Context();
    const FlashResult failure = VerifyFlash(ctx, 0);
    if (failure) h.view.ShowMessage(*failure, "Error");
    return !failure;
  }
  std::vector<RecordedCommand> Reads() const { return h.With(0x5A, 5, 0x11); }
  std::vector<std::string> Errors() const {
    std::vector<std::string> texts;
    for (const Box& b : h.view.boxes) {
      EXPECT_EQ(b.caption, "Error");
      texts.push_back(b.text);
    }
    return texts;
  }
  FlashHarness h;
};

struct ChecksumCase {
  const char* name;
  std::optional<uint16_t> reported;
  bool updaterMode;
  bool result;
  const char* box;  // "" for none
};

class VerifyChecksum : public Verify, public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(VerifyChecksum, ComparesTheDrivesChecksum) {
  h.image = PatternImage(3 * 1024 * 1024);
  h.imageChecksum = 0x1234;
  h.silent = true;  // the checksum path talks anyway
  h.updaterMode = GetParam().updaterMode;
  h.drive.capabilities = kChecksumCapability;
  h.drive.checksum = GetParam().reported;

  EXPECT_EQ(Run(), GetParam().result);
  EXPECT_TRUE(Reads().empty());
  const std::string box = GetParam().box;
  EXPECT_EQ(Errors(), box.empty() ? std::vector<std::string>{} : std::vector<std::string>{box});
  std::vector<std::string> lines{"Getting CheckSum from drive !"};
  if (GetParam().result) lines.push_back("Verification finished");
  EXPECT_EQ(h.view.lines, lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VerifyChecksum,
    ::testing::Values(ChecksumCase{"Equal", 0x1234, false, true, ""},
                      ChecksumCase{"Differs", 0x1235, false, false, "Flash Verify Error!"},
                      ChecksumCase{"SwappedBytes", 0x3412, false, false, "Flash Verify Error!"},
                      ChecksumCase{"NoReply", std::nullopt, false, false, "Get Checksum Error!"},
                      ChecksumCase{"NoReplyUpdater", std::nullopt, true, false, "Flash Verify Error!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Verify, ReadBackOfAThousandBytesReadsFourPieces) {
  h.image = PatternImage(1000);
  h.drive.flash = h.image;
  h.drive.flash.resize(1024, 0xEE);  // what lies past the image is not compared

  EXPECT_TRUE(Run());
  const auto reads = Reads();
  ASSERT_EQ(reads.size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(CdbHex(reads[i].cdb), "5a00384f5211" + std::string(i == 0 ? "00" : i == 1 ? "01" : i == 2 ? "02" : "03") + "000000" "0100");
  EXPECT_EQ(h.view.lines, (std::vector<std::string>{"Read ROM Data", "Checksum verifying", "Verification finished"}));
  EXPECT_EQ(h.view.progressHistory, (std::vector<int>{256, 512, 768, 1024, 0, 256, 512, 768}));
  EXPECT_TRUE(h.view.boxes.empty());
}

TEST_F(Verify, BarFillsOncePerBankAndOncePer64KiBCompared) {
  h.image = PatternImage(2 * 65536);
  h.drive.flash = h.image;
  EXPECT_TRUE(Run());
  const auto& bars = h.view.progressHistory;
  EXPECT_EQ(Reads().size(), 512u);
  EXPECT_EQ(bars[255], 65536);
  EXPECT_EQ(bars[256], 256);  // a full bar starts over at one piece
  EXPECT_EQ(bars[512], 0);     // the comparison starts from an empty bar
  EXPECT_EQ(bars[512 + 256], 65536);
  EXPECT_EQ(bars[512 + 257], 0);
}

TEST_F(Verify, LargeImagesAreReadInBiggerPieces) {
  h.image = PatternImage(32 * 65536 + 300);  // rounds to 32 banks + 512 bytes
  h.drive.flash = h.image;
  EXPECT_TRUE(Run());
  const auto reads = Reads();
  ASSERT_EQ(reads.size(), 32u * 16 + 1);
  EXPECT_EQ(CdbHex(reads.back().cdb), "5a00384f5211000000201000");
}

TEST_F(Verify, DifferingByteFails) {
  h.image = PatternImage(5000);
  h.drive.flash = h.image;
  h.drive.flash[4999] ^= 1;
  EXPECT_FALSE(Run());
  EXPECT_EQ(Errors(), (std::vector<std::string>{"Flash Verify Error!"}));
  EXPECT_EQ(h.view.lines, (std::vector<std::string>{"Read ROM Data", "Checksum verifying"}));
}

TEST_F(Verify, MismatchAtTheLastByteOfAStepStillMovesTheBar) {
  h.image = PatternImage(1024);
  h.drive.flash = h.image;
  h.drive.flash[511] ^= 1;
  EXPECT_FALSE(Run());
  EXPECT_EQ(h.view.progress, 512);
}

TEST_F(Verify, ReservedBlocksAreLeftOutOnBothSides) {
  h.image = PatternImage(0x10000);
  h.parameter.ReservedBlocks = {{0x8000, 0x100}, {0xFFF0, 0x100}};  // the second reaches past the end
  h.drive.flash = h.image;
  for (uint32_t i = 0x8000; i < 0x8100; ++i) h.drive.flash[i] = 0x55;
  for (uint32_t i = 0xFFF0; i < 0x10000; ++i) h.drive.flash[i] = 0x55;
  EXPECT_TRUE(Run());
  EXPECT_EQ(h.image, PatternImage(0x10000));  // the working image is left alone

  h.drive.flash[0x8100] ^= 1;  // the first byte after the block counts again
  h.view.boxes.clear();
  EXPECT_FALSE(Run());
}

TEST_F(Verify, FailedReadStopsAtOnce) {
  for (bool updater : {false, true}) {
    FlashHarness& f = h;
    f.view.boxes.clear();
    f.backend->commands.clear();
    f.image = PatternImage(4096);
    f.updaterMode = updater;
    f.drive.failWhen = [](const RecordedCommand& c) -> std::optional<Sense3> {
      if (c.cdb[5] == 0x11 && c.cdb[6] == 0x02) return Sense3{5, 0x24, 0};
      return std::nullopt;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(Reads().size(), 3u);
    EXPECT_EQ(Errors(), (std::vector<std::string>{updater ? "Flash Verify Error!" : "ReadROM Error!"}));
  }
}

TEST_F(Verify, SilentReadBackPostsNothing) {
  h.image = PatternImage(3000);
  h.drive.flash = h.image;
  h.silent = true;
  EXPECT_TRUE(Run());
  EXPECT_TRUE(h.view.allLines.empty());
}

TEST_F(Verify, ReadBackFillsWholePiecesWithinTheDestination) {
  h.image = PatternImage(32 * 65536 + 256);  // 4096-byte pieces, the last one reaching past the buffer
  h.drive.flash = PatternImage(33 * 65536);
  std::vector<uint8_t> destination(32 * 65536 + 256);  // exact: ASan catches a write past it
  auto ctx = h.Context();
  EXPECT_TRUE(ReadBackImage(ctx, 0, destination.data()));
  EXPECT_TRUE(std::equal(destination.begin(), destination.end(), h.drive.flash.begin()));
  EXPECT_EQ(h.view.progress, 4096);
}

TEST_F(Verify, ReadBackPastBank255IsRefusedBeforeFlashingUnlessTheDriveHasItsChecksum) {
  const auto check = [&] {
    auto ctx = h.Context();
    return CheckVerifiable(ctx, 0);
  };
  h.image = PatternImage(256 * 65536);
  EXPECT_EQ(check(), std::nullopt);
  EXPECT_TRUE(h.backend->commands.empty());  // within reach: the drive is not even asked

  h.image.push_back(1);
  const FlashResult refusal = check();
  ASSERT_TRUE(refusal);
  EXPECT_NE(refusal->find("16 MiB"), std::string::npos);
  h.drive.capabilities = kChecksumCapability;
  EXPECT_EQ(check(), std::nullopt);
}

TEST_F(Verify, ReadBackNeverWrapsPastBank255) {
  h.image = PatternImage(256 * 65536 + 1);
  EXPECT_FALSE(Run());
  EXPECT_EQ(Errors(), std::vector<std::string>{"ReadROM Error!"});
  EXPECT_TRUE(Reads().empty());
}

TEST_F(Verify, ReadBackReachesTheLastByteOfBank255) {
  h.image = PatternImage(256 * 65536);
  h.drive.flash = h.image;
  std::vector<uint8_t> destination(h.image.size());
  auto ctx = h.Context();
  EXPECT_TRUE(ReadBackImage(ctx, 0, destination.data()));
  EXPECT_EQ(destination.back(), h.image.back());
}

// Past the read-back's reach only the drive's checksum report can tell: without one nothing is read.
TEST_F(Verify, CheckPastBank255NeedsTheChecksumReport) {
  h.image = PatternImage(256 * 65536 + 1);
  auto ctx = h.Context();
  EXPECT_EQ(CheckFlash(ctx, 0).outcome, FlashCheck::Outcome::BeyondReadBack);
  EXPECT_TRUE(Reads().empty());
  h.drive.capabilities = kChecksumCapability;
  auto again = h.Context();
  EXPECT_TRUE(CheckFlash(again, 0).byChecksum);
}

}  // namespace
}  // namespace ofs::test
