// A stop signal during the update sequence, delivered by the simulated drive at an
// exact command: before the first write the run ends with nothing written and the
// drive given back; in the write phase it is held until the flash has ended; after
// it the rest of the update is skipped, and a verification asked for is not claimed.
// On every way out the tray is unlocked while the drive is still held.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "app/AppHarness.h"

namespace ofs::test {
namespace {

struct StopCase {
  const char* name;
  int signal;
  SimCommand at;
  int use;
  bool verify;
  bool written;     // the flash holds the image afterwards
  bool held;        // heldSignal names it
  TMainForm::UpdateOutcome outcome;
  const char* lastLine;
};

std::ostream& operator<<(std::ostream& out, const StopCase& c) { return out << c.name; }

using Outcome = TMainForm::UpdateOutcome;
const StopCase kCases[] = {
    {"LockedBeforeTheFirstWrite", SIGINT, SimCommand::PreventAllow, 1, false, false, false, Outcome::Failed,
     "Nothing was written to the drive."},
    {"FirstIdentityQueryOfTheSequence", SIGHUP, SimCommand::Inquiry, 9, false, false, false, Outcome::Failed,
     "Nothing was written to the drive."},
    // Download mode on changes the drive: the flash goes on and switches it off.
    {"DownloadModeOn", SIGINT, SimCommand::DownloadMode, 1, false, true, true, Outcome::Completed,
     "Stopped on SIGINT after the flash had ended; what was left of the update was skipped."},
    {"SecondBankWrite", SIGTERM, SimCommand::WriteBuffer, 2, true, true, true, Outcome::FlashedNotVerified,
     kFlashedNotVerifiedLine},
    {"SecondBankWriteUnverified", SIGTERM, SimCommand::WriteBuffer, 2, false, true, true, Outcome::Completed,
     "Stopped on SIGTERM after the flash had ended; what was left of the update was skipped."},
    {"ProgressPoll", SIGQUIT, SimCommand::RequestSense, 3, false, true, true, Outcome::Completed,
     "Stopped on SIGQUIT after the flash had ended; what was left of the update was skipped."},
    // The verification's own read has passed when the signal comes.
    {"Verification", SIGTSTP, SimCommand::ChecksumRead, 2, true, true, false, Outcome::Completed,
     "Stopped on SIGTSTP after the flash had ended; what was left of the update was skipped."},
    {"LastReadOfTheRefreshedDriveLine", SIGINT, SimCommand::Inquiry, 13, false, true, false, Outcome::Completed,
     "All Completed!"},
};

// Forwards to the simulated drives and notes, for every unlock, whether the drive was still held.
class UnlockWatch : public TransportBackend {
 public:
  explicit UnlockWatch(std::unique_ptr<SimBackend> sim) : sim_(std::move(sim)) {}
  std::vector<BackendDrive> Enumerate() override { return sim_->Enumerate(); }
  void Select(int index) override { sim_->Select(index); }
  TransportStatus Execute(const uint8_t* cdb, uint8_t* buffer, uint32_t length, uint8_t direction,
                          SenseData& sense) override {
    if (cdb[0] == 0x1E && (cdb[4] & 1) == 0) unlocksHeld.push_back(sim_->Held(0));
    return sim_->Execute(cdb, buffer, length, direction, sense);
  }
  HoldResult Hold(int index, const TraceNote& note) override { return sim_->Hold(index, note); }
  SharedBackend Share() override { return sim_->Share(); }

  std::vector<bool> unlocksHeld;

 private:
  std::unique_ptr<SimBackend> sim_;
};

class StopDuringUpdate : public ::testing::TestWithParam<StopCase> {
 protected:
  static SimProfile RaisingProfile(const StopCase& c) {
    SimProfile profile = BuiltInDemoProfile(true);
    SimSignalRaise raise;
    raise.signal = c.signal;
    raise.selector.command = c.at;
    raise.use = c.use;
    profile.drives[0].raises.push_back(raise);
    return profile;
  }

  StopDuringUpdate() {
    auto sim = std::make_unique<SimBackend>(RaisingProfile(GetParam()), h.clock);
    h.sim = sim.get();
    auto watched = std::make_unique<UnlockWatch>(std::move(sim));
    watch = watched.get();
    h.atapi = std::make_unique<TAtapiImp>(std::move(watched), h.clock, true);
  }

  const StopSignalCatch stops;  // as the front ends hold it
  AppHarness h;
  UnlockWatch* watch = nullptr;
};

TEST_P(StopDuringUpdate, EndsWhereItIsSafeAndGivesTheDriveBack) {
  const StopCase& c = GetParam();
  const TestImage image = MakeImage(Drive0Template("1.02"));
  h.Form().FormCreate();
  h.Form().LoadFirmwareFile(h.WriteFile("image.ofs", image.container));
  h.view.SelectDriveItem(0);
  h.Form().check_verifyClick(c.verify);
  const std::vector<uint8_t> before = h.Drive(0).Flash();
  int phaseBegins = 0;
  h.Form().onWritePhaseBegins = [&] {
    ++phaseBegins;
    EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::WriteBuffer), 0) << "called after a write went out";
  };
  h.view.defaultAnswer = true;  // the restart question would be answered OK

  h.Form().RunJob([](TMainForm& f) { f.BitBtn2Click(); });

  EXPECT_EQ(CaughtStopSignal(), c.signal);
  const std::vector<uint8_t>& flash = h.Drive(0).Flash();
  EXPECT_EQ(h.Form().lastUpdate, c.outcome);
  if (c.written) {
    EXPECT_TRUE(std::equal(image.flat.begin(), image.flat.end(), flash.begin()));
    EXPECT_EQ(phaseBegins, 1);
  } else {
    EXPECT_EQ(flash, before);
    EXPECT_EQ(h.atapi->writesReached, 0);
    EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::WriteBuffer), 0);
    EXPECT_EQ(phaseBegins, 0);
  }
  EXPECT_EQ(std::count(watch->unlocksHeld.begin(), watch->unlocksHeld.end(), false), 0) << "unlocked after release";
  EXPECT_EQ(h.Form().heldSignal, c.held ? c.signal : 0);
  ASSERT_FALSE(h.view.allLines.empty());
  EXPECT_EQ(h.view.allLines.back(), c.lastLine);
  EXPECT_EQ(h.platform.restartRequests, 0) << "a question after the signal";
  EXPECT_TRUE(h.view.BoxTexts().empty()) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_FALSE(h.Drive(0).MediumRemovalPrevented());
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
  EXPECT_EQ(h.atapi->Share()->ClaimDrive(0), "") << "the hold was not given back";
}

INSTANTIATE_TEST_SUITE_P(AtEachPhase, StopDuringUpdate, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ofs::test
