// A stop signal during the update sequence, delivered by the simulated drive at an
// exact command: before the first write the run ends with nothing written and the
// drive given back; in the write phase it is held until the flash has ended; after
// it the rest of the update is skipped.
#include <gtest/gtest.h>

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
  const char* lastLine;
};

std::ostream& operator<<(std::ostream& out, const StopCase& c) { return out << c.name; }

const StopCase kCases[] = {
    {"LockedBeforeTheFirstWrite", SIGINT, SimCommand::PreventAllow, 1, false, false, false,
     "Nothing was written to the drive."},
    {"FirstIdentityQueryOfTheSequence", SIGHUP, SimCommand::Inquiry, 9, false, false, false,
     "Nothing was written to the drive."},
    {"SecondBankWrite", SIGTERM, SimCommand::WriteBuffer, 2, true, true, true,
     "Stopped on SIGTERM after the flash had ended; what was left of the update was skipped."},
    {"ProgressPoll", SIGQUIT, SimCommand::RequestSense, 3, false, true, true,
     "Stopped on SIGQUIT after the flash had ended; what was left of the update was skipped."},
    {"Verification", SIGTSTP, SimCommand::ChecksumRead, 2, true, true, false,
     "Stopped on SIGTSTP after the flash had ended; what was left of the update was skipped."},
    {"LastReadOfTheRefreshedDriveLine", SIGINT, SimCommand::Inquiry, 13, false, true, false, "All Completed!"},
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

  StopDuringUpdate() : h(RaisingProfile(GetParam())) {}

  const StopSignalCatch stops;  // as the front ends hold it
  AppHarness h;
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
  if (c.written) {
    EXPECT_TRUE(std::equal(image.flat.begin(), image.flat.end(), flash.begin()));
    EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
    EXPECT_EQ(phaseBegins, 1);
  } else {
    EXPECT_EQ(flash, before);
    EXPECT_EQ(h.atapi->writesReached, 0);
    EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::WriteBuffer), 0);
    EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
    EXPECT_EQ(phaseBegins, 0);
  }
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
