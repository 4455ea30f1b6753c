// The tray loop: automatic and manual mode, both prompts, Cancel.
#include <gtest/gtest.h>

#include "ScriptedDrive.h"
#include "flash/TrayPrompt.h"

namespace ofs::test {
namespace {

constexpr char kClose[] = "Please close the tray and click OK to continue !";
constexpr char kRemove[] = "Please remove your disc from the tray and click OK to continue !";

class TrayPrompt : public ::testing::Test {
 protected:
  bool Run() {
    auto ctx = h.Context();
    return EnsureTrayEmptyAndClosed(ctx, 0);
  }
  std::vector<std::string> Questions() const {
    std::vector<std::string> q;
    for (const Box& b : h.view.boxes) {
      EXPECT_TRUE(b.question);
      EXPECT_EQ(b.caption, "Check");
      q.push_back(b.text);
    }
    return q;
  }
  std::size_t Loads() const { return h.With(0x1B, 4, 0x03).size(); }
  std::size_t Ejects() const { return h.With(0x1B, 4, 0x02).size(); }

  FlashHarness h;
};

TEST_F(TrayPrompt, ClosedEmptyDriveNeedsNoQuestion) {
  h.drive.trayOpen = true;
  EXPECT_TRUE(Run());
  EXPECT_TRUE(h.view.boxes.empty());
  EXPECT_EQ(Loads(), 1u);
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(0));
}

TEST_F(TrayPrompt, UnitAttentionOnLoadKeepsAutomaticMode) {
  h.drive.trayOpen = true;
  h.drive.loadFails = Sense3{0x06, 0x1D, 0x00};
  EXPECT_TRUE(Run());
  EXPECT_TRUE(h.view.boxes.empty());
  EXPECT_EQ(Loads(), 2u);  // the loop closes the tray itself
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(5000));
  EXPECT_EQ(h.senseData[12], 0x1D);
}

TEST_F(TrayPrompt, TrayThatStaysOpenFallsBackToTheQuestion) {
  h.drive.trayOpen = true;
  h.drive.loadCloses = false;
  h.drive.failWhen = [&](const RecordedCommand&) -> std::optional<Sense3> {
    if (h.drive.loads >= 20) h.drive.loadCloses = true;  // keeps an endless loop from hanging the suite
    return std::nullopt;
  };
  h.view.answers = {true, false};
  EXPECT_FALSE(Run());
  EXPECT_EQ(Questions(), (std::vector<std::string>{kClose, kClose}));
  EXPECT_EQ(Loads(), 6u);  // the first one and five automatic rounds
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(6 * 5000));
}

TEST_F(TrayPrompt, OtherLoadFailureAsksToCloseTheTray) {
  h.drive.trayOpen = true;
  h.drive.loadFails = Sense3{0x05, 0x24, 0x00};
  h.drive.loadFailsOnlyFirst = false;
  h.view.answers = {true};
  h.view.defaultAnswer = false;
  int asked = 0;
  h.drive.failWhen = [&](const RecordedCommand& c) -> std::optional<Sense3> {
    // The user closes the tray after the first question.
    if (c.cdb[0] == 0x4A && h.view.boxes.size() > static_cast<std::size_t>(asked)) {
      asked = static_cast<int>(h.view.boxes.size());
      h.drive.trayOpen = false;
    }
    return std::nullopt;
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(Questions(), (std::vector<std::string>{kClose}));
  EXPECT_EQ(Loads(), 1u);
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(5000));
}

TEST_F(TrayPrompt, CancelOnCloseQuestion) {
  // 06/1D with a flag in byte 2 is not the unit attention that keeps automatic mode.
  for (const Sense3 sense : {Sense3{0x02, 0x3A, 0x00}, Sense3{0x26, 0x1D, 0x00}, Sense3{0x06, 0x1C, 0x00}}) {
    h.view.boxes.clear();
    h.drive.loads = 0;
    h.drive.trayOpen = true;
    h.drive.loadFails = sense;
    h.view.answers = {false};
    EXPECT_FALSE(Run());
    EXPECT_EQ(Questions(), (std::vector<std::string>{kClose}));
    EXPECT_EQ(h.drive.loads, 1);
  }
}

TEST_F(TrayPrompt, DiscIsEjectedUntilTheUserRemovesIt) {
  h.drive.medium = true;
  int ejects = 0;
  h.drive.onEject = [&] {
    if (++ejects == 2) h.drive.medium = false;  // OK was clicked once with the disc still inside
  };
  h.view.answers = {true, true};
  EXPECT_TRUE(Run());
  EXPECT_EQ(Questions(), (std::vector<std::string>{kRemove, kRemove}));
  EXPECT_EQ(Ejects(), 2u);
  EXPECT_EQ(Loads(), 3u);  // the first one and one per closing round
  EXPECT_EQ(h.clock.Now(), std::chrono::milliseconds(4 * 5000));
}

TEST_F(TrayPrompt, CancelOnRemoveQuestion) {
  h.drive.medium = true;
  h.view.answers = {false};
  EXPECT_FALSE(Run());
  EXPECT_EQ(Questions(), (std::vector<std::string>{kRemove}));
  EXPECT_EQ(Ejects(), 1u);
}

TEST_F(TrayPrompt, ManualModeAsksAgainAfterEject) {
  h.drive.medium = true;
  h.drive.loadFails = Sense3{0x05, 0x24, 0x00};
  h.drive.loadFailsOnlyFirst = false;
  h.drive.onEject = [&] { h.drive.medium = false; };
  // Remove the disc: OK; then the tray is open: close it (cancel here).
  h.view.answers = {true, false};
  EXPECT_FALSE(Run());
  EXPECT_EQ(Questions(), (std::vector<std::string>{kRemove, kClose}));
  EXPECT_EQ(Loads(), 1u);  // manual mode never loads again
}

TEST_F(TrayPrompt, ManualOkWithTheTrayStillOpenAsksAgain) {
  h.drive.trayOpen = true;
  h.drive.loadFails = Sense3{0x05, 0x24, 0x00};
  h.drive.loadFailsOnlyFirst = false;
  h.view.answers = {true, true};
  h.view.defaultAnswer = false;
  h.drive.failWhen = [&](const RecordedCommand& c) -> std::optional<Sense3> {
    // The user closes the tray only before the second OK.
    if (c.cdb[0] == 0x4A && h.view.boxes.size() == 2) h.drive.trayOpen = false;
    return std::nullopt;
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(Questions(), (std::vector<std::string>{kClose, kClose}));
  EXPECT_FALSE(h.drive.trayOpen);
}

TEST_F(TrayPrompt, AutomaticModeLoadsUntilTheTrayIsClosed) {
  h.drive.trayOpen = true;
  h.drive.loadFails = Sense3{0x06, 0x1D, 0x00};
  h.drive.loadCloses = false;
  h.drive.failWhen = [&](const RecordedCommand& c) -> std::optional<Sense3> {
    if (c.cdb[0] == 0x1B && c.cdb[4] == 0x03 && h.drive.loads == 2) h.drive.trayOpen = false;  // the third LOAD
    return std::nullopt;
  };
  EXPECT_TRUE(Run());
  EXPECT_TRUE(h.view.boxes.empty());
  EXPECT_EQ(Loads(), 3u);
  EXPECT_FALSE(h.drive.trayOpen);
}

}  // namespace
}  // namespace ofs::test
