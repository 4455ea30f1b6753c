// The Start button on simulated drives: questions, lines, tray, lock, flash,
// verification, the refreshed drive line, and re-enabling on every path.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/AppHarness.h"

namespace ofs::test {
namespace {

constexpr char kRestartQuestion[] = "After updating, the system must be restarted.\nClick Yes to reboot your system.";
constexpr char kAutoInsertQuestion[] = "Would you like to activate the auto-insert notification ?";
constexpr char kDrive0Key[] = "Enum\\SCSI\\ORVA____KZR-3350P2______1\\DEV0";

// True when `wanted` appears in `lines` in this order (other lines may come between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  auto it = lines.begin();
  for (const std::string& w : wanted) {
    it = std::find(it, lines.end(), w);
    if (it == lines.end()) return false;
    ++it;
  }
  return true;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Update : public ::testing::Test {
 protected:
  explicit Update(SimProfile profile = BuiltInDemoProfile(true), bool nt = true) : h(std::move(profile), nt) {}

  // Flash-utility start-up, a loaded container and the drive list item to flash.
  void Prepare(const std::vector<uint8_t>& container, int item = 0) {
    h.Form().FormCreate();
    h.Form().LoadFirmwareFile(h.WriteFile("image.ofs", container));
    ASSERT_TRUE(h.view.IsEnabled(Control::BitBtn2)) << ::testing::PrintToString(h.view.BoxTexts());
    h.view.SelectDriveItem(item);
  }
  void ExpectIdleAndUnlocked() {
    for (Control c : {Control::BitBtn1, Control::BitBtn2, Control::BitBtn4, Control::Window}) {
      EXPECT_TRUE(h.view.IsEnabled(c));
    }
    EXPECT_FALSE(h.Drive(0).MediumRemovalPrevented());
    EXPECT_FALSE(h.Drive(1).MediumRemovalPrevented());
  }
  bool Flashed(int drive) { return h.Drive(drive).CommandCount(SimCommand::WriteBuffer) > 0; }
  std::vector<uint8_t> FlashPrefix(int drive, std::size_t length) {
    const std::vector<uint8_t>& flash = h.Drive(drive).Flash();
    return {flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(length)};
  }
  std::vector<std::string> Questions() {
    std::vector<std::string> texts;
    for (const Box& b : h.view.boxes) {
      if (b.question) texts.push_back(b.text);
    }
    return texts;
  }

  AppHarness h;
};

TEST_F(Update, FullUpdateWithChecksumVerificationRefreshesTheDriveLine) {
  const TestImage image = MakeImage(Drive0Template("1.02"));
  Prepare(image.container);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();

  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(FlashPrefix(0, image.flat.size()), image.flat);
  EXPECT_TRUE(InOrder(h.view.allLines,
                      {"Updating will not be executed until the tray is closed", " without any media inside !",
                       "Updating", "Flashing finished !", "Verifying will not be executed until the tray is closed",
                       " without any media inside !", "All Completed!"}));
  EXPECT_EQ(h.view.drives[0], "ORVA    KZR-3350P2       1.02 061201");
  EXPECT_EQ(h.view.statusText, "ORVA    KZR-3350P2       1.02 061201");
  EXPECT_EQ(h.view.selectedDrive, 0);
  // NT family: no auto-insert question, only the restart question (answered Cancel).
  EXPECT_EQ(Questions(), std::vector<std::string>{kRestartQuestion});
  EXPECT_EQ(h.view.boxes.back().caption, "Check");
  EXPECT_EQ(h.platform.restartRequests, 0);
  EXPECT_EQ(h.view.progress, 0);
  ExpectIdleAndUnlocked();
  EXPECT_FALSE(Flashed(1));
}

TEST_F(Update, RestartQuestionAnsweredOkRequestsARestart) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.view.defaultAnswer = true;
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_EQ(h.platform.restartRequests, 1);
}

TEST_F(Update, ReadBackVerificationOnADriveWithoutChecksumCapability) {
  const TestImage image = MakeImage(Drive1Template("2.12"));
  Prepare(image.container, 1);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(h.view.drives[1], "ORVA    KZW-5520         2.12 050930");
  EXPECT_EQ(FlashPrefix(1, image.flat.size()), image.flat);
  EXPECT_FALSE(Flashed(0));
  ExpectIdleAndUnlocked();
}

TEST_F(Update, ReadBackPassesWithImageBytesInsideReservedBlocks) {
  const std::vector<uint8_t> flat = build::MakeFlatImage(0x40000, 9, {Drive1Template("2.12")});
  // The reserved block holds non-zero image bytes: blanking only one side would fail.
  ASSERT_NE(std::count(flat.begin() + 0x8000, flat.begin() + 0x9000, 0), 0x1000);
  build::OfsLayout layout;
  layout.reservedBlocks = {{0x8000, 0x1000}};
  Prepare(build::BuildOfs(layout, flat), 1);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_TRUE(Flashed(1));
}

TEST_F(Update, ReadBackPastSixteenMiBIsRefusedBeforeAnythingIsWritten) {
  build::OfsLayout layout;
  // Block sums go past 256 blocks as written: the procedure carries all of it.
  layout.atapiFlashType = 2;
  layout.bankSizes.assign(257, 65536);
  const auto flat = build::MakeFlatImage(257 * 65536, 9, {Drive1Template("2.12")});
  Prepare(build::BuildOfs(layout, flat), 1);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(h.view.boxes[0].caption, "Error");
  EXPECT_NE(h.view.boxes[0].text.find("16 MiB"), std::string::npos);
  EXPECT_EQ(h.Drive(1).CommandCount(SimCommand::WriteBuffer) + h.Drive(1).CommandCount(SimCommand::FlashData), 0);
  ExpectIdleAndUnlocked();
  // Refused before the tray step, and in the rehearsal too.
  EXPECT_FALSE(Contains(h.view.allLines, "Updating will not be executed until the tray is closed"));
  h.Form().dryRun = true;
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_EQ(h.view.boxes.size(), 2u);
}

// The window refuses a low battery in its box, and never takes the drive for it.
TEST_F(Update, TheWindowRefusesALowBatteryInItsBox) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.platform.power.upowerAnswered = true;
  h.platform.power.onBattery = true;
  h.platform.power.percentage = 7.5;
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(h.view.boxes[0].caption, "Error");
  EXPECT_EQ(h.view.boxes[0].text.rfind("The system runs on battery with 7.5% charge left, less than the 10%", 0), 0u)
      << h.view.boxes[0].text;
  EXPECT_FALSE(Flashed(0));
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::PreventAllow), 0);
  ExpectIdleAndUnlocked();
}

TEST_F(Update, StartedAgainAtOnceWithTheSameImage) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().BitBtn2Click();
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_EQ(Questions().size(), 2u);  // equal versions ask nothing; two restart questions
}

TEST_F(Update, SilentSuppressesProgressLinesButNotTrayLinesOrQuestions) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().Silent1Click();
  h.Form().check_verifyClick(true);
  const std::size_t before = h.view.allLines.size();
  h.Form().BitBtn2Click();
  const std::vector<std::string> lines(h.view.allLines.begin() + static_cast<std::ptrdiff_t>(before),
                                       h.view.allLines.end());
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  for (const char* hidden : {"Updating", "Flashing finished !", "All Completed!"}) {
    EXPECT_FALSE(Contains(lines, hidden)) << hidden;
  }
  EXPECT_TRUE(Contains(lines, "Updating will not be executed until the tray is closed"));
  EXPECT_TRUE(Contains(lines, "Verifying will not be executed until the tray is closed"));
  EXPECT_EQ(Questions(), std::vector<std::string>{kRestartQuestion});
}

TEST_F(Update, WithoutNoDiscThereAreNoTrayLinesNorTrayCommands) {
  h.parameter = ParameterArea({{"NoDisc=1", "NoDisc=0"}});
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_FALSE(Contains(h.view.allLines, "Updating will not be executed until the tray is closed"));
  EXPECT_FALSE(Contains(h.view.allLines, "Verifying will not be executed until the tray is closed"));
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::LoadTray), 0);
}

TEST_F(Update, DiscLeftInTheTrayCancelsBeforeAnythingIsWritten) {
  h.sim->Drive(0).SetMediumPresent(true);
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.view.defaultAnswer = false;
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Cancelled);
  EXPECT_FALSE(Flashed(0));
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::PreventAllow), 0);
  ExpectIdleAndUnlocked();
}

TEST_F(Update, FlashTypeZeroIsRefusedBeforeAnythingIsDisabled) {
  Prepare(MakeImage(Drive0Template("1.02"), 0).container);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.view.events.back(), "box:Error:Flash Type is not supported!");
  EXPECT_EQ(h.view.enabled.count(Control::Window), 0u);
  h.Form().silent = true;
  const std::size_t boxes = h.view.boxes.size();
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.view.boxes.size(), boxes);
  EXPECT_FALSE(Flashed(0));
}

struct VersionCase {
  const char* drive;
  const char* image;
  bool asked;
};

class VersionQuestion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionQuestion, ComesOnlyForANewerDriveAndCancelSendsNothing) {
  const VersionCase& c = GetParam();
  SimProfile profile = BuiltInDemoProfile(true);
  profile.drives[0].revision = c.drive;
  AppHarness h(profile);
  h.Form().FormCreate();
  h.Form().LoadFirmwareFile(h.WriteFile("image.ofs", MakeImage(Drive0Template(c.image)).container));
  h.view.answers = {false};  // the first question (version, or else restart) is answered Cancel
  h.Form().BitBtn2Click();
  const Box& first = h.view.boxes.at(0);
  if (c.asked) {
    EXPECT_EQ(first.text, std::string(c.drive) + " is newer than " + c.image + " !! Update the drive ?");
    EXPECT_EQ(first.caption, "Warning!");
    EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::WriteBuffer), 0);
    EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::LoadTray), 0);
  } else {
    EXPECT_EQ(first.text, kRestartQuestion);
    EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  }
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2));
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionQuestion,
                         ::testing::Values(VersionCase{"1.10", "1.09", true}, VersionCase{"1.09", "1.10", false},
                                           VersionCase{"1.02", "1.02", false}, VersionCase{"ABCD", "1.00", false},
                                           VersionCase{"2.00", "ABCD", true}, VersionCase{"INF1", "1.00", false},
                                           VersionCase{"NAN0", "1.00", false}, VersionCase{"1.00", "INF0", true}));

TEST_F(Update, FlashFailureShowsItsTextUnlocksAndReenables) {
  SimFailure fail;
  fail.selector = SimCommandSelector{SimCommand::WriteBuffer};
  fail.times = 0;
  h.Drive(0).AddFailure(fail);
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().BitBtn2Click();
  ASSERT_FALSE(h.view.boxes.empty());
  EXPECT_EQ(h.view.boxes.back().caption, "Error");
  EXPECT_FALSE(h.view.boxes.back().text.empty());
  EXPECT_NE(h.view.boxes.back().text, "Flash Fail!");  // that one belongs to the updater personality
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_FALSE(Contains(h.view.allLines, "Flashing finished !"));
  EXPECT_TRUE(Questions().empty());
  ExpectIdleAndUnlocked();
}

TEST_F(Update, ExceptionInsideTheSequenceUnlocksShowsItsTextAndReenables) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.view.onLine = [](const std::string& line) {
    if (line == "Updating") throw std::bad_alloc();  // the tray is locked by then
  };
  h.Form().RunJob([](TMainForm& f) { f.BitBtn2Click(); });
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(h.view.boxes[0].caption, "Error");
  EXPECT_EQ(h.view.boxes[0].text, std::bad_alloc().what());
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::PreventAllow), 2);
  EXPECT_FALSE(Flashed(0));
  ExpectIdleAndUnlocked();
}

TEST_F(Update, RefusedUnlockIsAskedAgain) {
  SimFailure unlock;
  unlock.selector = SimCommandSelector{SimCommand::PreventAllow};
  unlock.firstUse = 2;  // the allow after flashing
  unlock.times = 1;
  h.Drive(0).AddFailure(unlock);
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::PreventAllow), 3);
  ExpectIdleAndUnlocked();
}

TEST_F(Update, VerificationFailureUnlocksAndReenables) {
  SimFailure readBack;
  readBack.selector = SimCommandSelector{SimCommand::ReadRom};
  readBack.times = 0;
  h.Drive(1).AddFailure(readBack);
  Prepare(MakeImage(Drive1Template("2.12")).container, 1);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_TRUE(Contains(h.view.allLines, "Flashing finished !"));
  EXPECT_FALSE(Contains(h.view.allLines, "All Completed!"));
  EXPECT_TRUE(Questions().empty());
  ExpectIdleAndUnlocked();
}

TEST_F(Update, PhilipsImageHasNoTrayCheckNoVerificationAndAFullBar) {
  h.Form().FormCreate();
  const std::string philips = h.WriteFile("philips.bin", MakePhilipsFile(4 * 16384 - 40, Drive0Template("1.02")));
  h.Form().LoadFirmwareFile(h.WriteZip("philips.zip", {philips}));
  ASSERT_TRUE(h.view.IsEnabled(Control::BitBtn2));
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_TRUE(Contains(h.view.allLines, "Please wait for at least one minute!"));
  EXPECT_FALSE(Contains(h.view.allLines, "Updating will not be executed until the tray is closed"));
  EXPECT_FALSE(Contains(h.view.allLines, "Verifying will not be executed until the tray is closed"));
  EXPECT_TRUE(Contains(h.view.allLines, "All Completed!"));
  EXPECT_NE(std::find(h.view.progressHistory.begin(), h.view.progressHistory.end(), kProgressMax),
            h.view.progressHistory.end());
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::FirmwareBlock), 4);
  EXPECT_EQ(h.view.drives[0].substr(0, 29), "ORVA    KZR-3350P2       1.02");
}

TEST_F(Update, DriveThatNoLongerAnswersAfterFlashingEndsWithoutTheRestartQuestion) {
  h.Form().FormCreate();
  // A body without INQUIRY template: the flashed drive has no identity to report.
  const std::string philips = h.WriteFile("philips.bin", MakePhilipsFile(4 * 16384 - 40));
  h.Form().LoadFirmwareFile(h.WriteZip("philips.zip", {philips}));
  h.view.defaultAnswer = true;
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.view.events.back(), "box:Error:Get Drive ModelName Error!");
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_EQ(h.platform.restartRequests, 0);
  ExpectIdleAndUnlocked();
}

// The prevent (1) and allow (0) commands the drive received, in order.
std::vector<int> LockCommands(SimulatedDrive& drive) {
  std::vector<int> values;
  for (const auto& cdb : drive.CommandLog()) {
    if (cdb[0] == 0x1E) values.push_back(cdb[4]);
  }
  return values;
}

TEST_F(Update, EveryLockIsReleasedBeforeTheNextStepAndTheListIsClearedTwice) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().check_verifyClick(true);
  h.view.events.clear();
  h.Form().BitBtn2Click();
  ASSERT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_EQ(LockCommands(h.Drive(0)), (std::vector<int>{1, 0, 1, 0}));  // flashing, then verifying
  EXPECT_TRUE(InOrder(h.view.events,
                      {"clear", "line:Updating will not be executed until the tray is closed",
                       "line: without any media inside !", "clear", "line:Updating", "line:Flashing finished !",
                       "line:Verifying will not be executed until the tray is closed",
                       "line: without any media inside !", "line:All Completed!",
                       std::string("ask:Check:") + kRestartQuestion}));
  EXPECT_EQ(h.view.events.back(), std::string("ask:Check:") + kRestartQuestion);
  EXPECT_EQ(h.view.selectedLine, -1);  // "All Completed!" is left unselected

  // Verify off: one lock around the flash and nothing about verifying.
  h.Form().check_verifyClick(false);
  h.Form().BitBtn2Click();
  EXPECT_EQ(LockCommands(h.Drive(0)), (std::vector<int>{1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(std::count(h.view.allLines.begin(), h.view.allLines.end(),
                       "Verifying will not be executed until the tray is closed"),
            1);
}

// The drive line is read again after flashing: the model name, the version and the
// extension, each by its own INQUIRY. A drive that stops answering one of them ends the
// update with that read's own text, after "All Completed!" and before the restart question.
struct RefreshFault {
  int inquiryFromEnd;  // 2: model name, 1: version, 0: extension
  const char* text;
};

class RefreshFailure : public Update, public ::testing::WithParamInterface<RefreshFault> {};

TEST_P(RefreshFailure, EndsWithItsTextAndWithoutTheRestartQuestion) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  const int before = h.Drive(0).CommandCount(SimCommand::Inquiry);
  h.Form().BitBtn2Click();
  ASSERT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  const int perUpdate = h.Drive(0).CommandCount(SimCommand::Inquiry) - before;
  const std::string line = h.view.drives[0];

  // The same update again, with one INQUIRY of the refresh failing.
  SimFailure fault;
  fault.selector = SimCommandSelector{SimCommand::Inquiry};
  fault.firstUse = perUpdate - GetParam().inquiryFromEnd;
  h.Drive(0).AddFailure(fault);
  h.view.defaultAnswer = true;
  h.view.events.clear();
  h.Form().BitBtn2Click();
  const std::vector<std::string>& e = h.view.events;
  ASSERT_GE(e.size(), 2u);
  EXPECT_EQ(e[e.size() - 2], "line:All Completed!");
  EXPECT_EQ(e.back(), std::string("box:Error:") + GetParam().text);
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_EQ(h.platform.restartRequests, 0);
  EXPECT_EQ(h.view.drives[0], line);
  ExpectIdleAndUnlocked();
}

INSTANTIATE_TEST_SUITE_P(Reads, RefreshFailure,
                         ::testing::Values(RefreshFault{2, "Get Drive ModelName Error!"},
                                           RefreshFault{1, "Get Drive Version Error!"},
                                           RefreshFault{0, "Get Drive DateCode Error!"}));

class PioneerUpdate : public Update {
 protected:
  static SimProfile Profile() {
    SimProfile profile = BuiltInDemoProfile(true);
    profile.drives[0].vendor = "PIONEER";
    return profile;
  }
  PioneerUpdate() : Update(Profile()) {}
};

TEST_F(PioneerUpdate, DriveLineGetsNoExtensionAfterFlashing) {
  build::InquiryTemplate pioneer = Drive0Template("1.02");
  pioneer.vendor = "PIONEER";
  Prepare(MakeImage(pioneer).container);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(h.view.drives[0], "PIONEER KZR-3350P2       1.02 ");
  EXPECT_EQ(h.view.statusText, "PIONEER KZR-3350P2       1.02 ");
}

TEST_F(Update, DiscLeftInTheTrayBeforeVerifyingEndsAfterTheFlash) {
  // The disc is in the tray from the start, but the first tray check reads the media
  // events as empty (both of its queries fail); the check before verifying sees it.
  h.Drive(0).SetMediumPresent(true);
  SimFailure blind;
  blind.selector = SimCommandSelector{SimCommand::EventStatus};
  blind.times = 2;
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Drive(0).AddFailure(blind);
  h.Form().check_verifyClick(true);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_TRUE(Flashed(0));
  EXPECT_TRUE(InOrder(h.view.allLines, {"Flashing finished !", "Verifying will not be executed until the tray is closed",
                                        " without any media inside !"}));
  EXPECT_FALSE(Contains(h.view.allLines, "All Completed!"));
  EXPECT_EQ(Questions(),
            std::vector<std::string>{"Please remove your disc from the tray and click OK to continue !"});
  EXPECT_EQ(LockCommands(h.Drive(0)), (std::vector<int>{1, 0}));  // verification never locked the tray
  ExpectIdleAndUnlocked();
}

TEST_F(Update, SilentPhilipsUpdateStillTellsToWait) {
  h.Form().FormCreate();
  const std::string philips = h.WriteFile("philips.bin", MakePhilipsFile(4 * 16384 - 40, Drive0Template("1.02")));
  h.Form().LoadFirmwareFile(h.WriteZip("philips.zip", {philips}));
  h.Form().silent = true;
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_TRUE(Contains(h.view.allLines, "Please wait for at least one minute!"));
  for (const char* hidden : {"Updating", "Flashing finished !", "All Completed!"}) {
    EXPECT_FALSE(Contains(h.view.allLines, hidden)) << hidden;
  }
  EXPECT_EQ(Questions(), std::vector<std::string>{kRestartQuestion});
}

class UpdaterUpdate : public Update {};

// A failure of the flash and a refusal before the first command alike: the box says
// "Flash Fail!", the list says what it was.
TEST_F(UpdaterUpdate, EveryFailureReadsFlashFailAndTheListTellsWhich) {
  struct Case {
    uint8_t flashType;  // 8 sends two of the image's four banks: refused before the first command
    const char* line;   // the list's line that tells
  };
  for (const Case& c : {Case{6, "Write Buffer Fail !"}, Case{8, "This image cannot be sent whole: "}}) {
    AppHarness u;
    u.parameter = ParameterArea({{"Updater=0", "Updater=1"}, {"ModelName=0", "ModelName=1"}});
    u.ofs3[0] = MakeImage(Drive0Template("1.02"), c.flashType).container;
    SimFailure fail;
    fail.selector = SimCommandSelector{SimCommand::WriteBuffer};
    fail.times = 0;
    u.Drive(0).AddFailure(fail);
    u.Form().FormCreate();
    u.Form().BitBtn2Click();
    ASSERT_EQ(u.view.BoxTexts().size(), 1u) << c.line;
    EXPECT_TRUE(u.view.BoxTexts()[0].starts_with("Flash Fail!")) << u.view.BoxTexts()[0];
    ASSERT_FALSE(u.view.lines.empty());
    const auto tells = std::find_if(u.view.lines.begin(), u.view.lines.end(),
                                    [&](const std::string& line) { return line.starts_with(c.line); });
    ASSERT_NE(tells, u.view.lines.end()) << ::testing::PrintToString(u.view.lines);
    EXPECT_EQ(u.view.selectedLine, static_cast<int>(u.view.lines.size()) - 1);
    EXPECT_TRUE(u.view.IsEnabled(Control::BitBtn2));
    EXPECT_FALSE(u.Drive(0).MediumRemovalPrevented());
  }
}

TEST_F(UpdaterUpdate, DriveLineOfTheUpdaterHasNoExtensionAfterFlashing) {
  h.parameter = ParameterArea({{"Updater=0", "Updater=1"}, {"ModelName=0", "ModelName=1"}});
  h.ofs3[0] = MakeImage(Drive0Template("1.02")).container;
  h.Form().FormCreate();
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(h.view.drives, std::vector<std::string>{"ORVA    KZR-3350P2       1.02 "});
}

class Win9xUpdate : public Update {
 protected:
  Win9xUpdate() : Update(BuiltInDemoProfile(true), false) {}
  void StoreSetting(uint8_t value) {
    h.settings.CreateKey(kDrive0Key);
    h.settings.SetStringValue(kDrive0Key, "RevisionLevel", "1.00");
    h.settings.SetValue(kDrive0Key, "AutoInsertNotification", {value});
  }
};

TEST_F(Win9xUpdate, NotificationOnSwitchesItOffAndRestartsInsteadOfFlashing) {
  StoreSetting(1);
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.view.defaultAnswer = true;
  h.Form().BitBtn2Click();
  ASSERT_EQ(Questions().size(), 1u);
  EXPECT_EQ(Questions()[0].substr(0, 48), "Because of the distinction of Windows 95/98/ME o");
  EXPECT_EQ(h.view.boxes[0].caption, "Check");
  EXPECT_EQ(h.settings.Value(kDrive0Key, "AutoInsertNotification"), std::vector<uint8_t>{0});
  EXPECT_EQ(h.platform.restartRequests, 1);
  EXPECT_FALSE(Flashed(0));
  EXPECT_EQ(h.Drive(0).CommandCount(SimCommand::PreventAllow), 0);
  ExpectIdleAndUnlocked();
}

TEST_F(Win9xUpdate, CancelOfTheRebootQuestionChangesNothing) {
  StoreSetting(1);
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.settings.Value(kDrive0Key, "AutoInsertNotification"), std::vector<uint8_t>{1});
  EXPECT_EQ(h.platform.restartRequests, 0);
  EXPECT_FALSE(Flashed(0));
}

TEST_F(Win9xUpdate, NotificationOffFlashesAndSwitchesItBackOnForTheSameDevice) {
  StoreSetting(0);
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.view.answers = {true, false};  // activate the notification; no restart
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_EQ(Questions(), (std::vector<std::string>{kAutoInsertQuestion, kRestartQuestion}));
  // The drive now reports 1.02; the key found is still the one of revision 1.00.
  EXPECT_EQ(h.settings.Value(kDrive0Key, "AutoInsertNotification"), std::vector<uint8_t>{1});
  EXPECT_TRUE(Flashed(0));
}

// A path that filters the image's commands (a block node without CAP_SYS_RAWIO)
// refuses the flash before anything is sent, and says which node is needed.
TEST_F(Update, APathThatCannotCarryTheFlashIsRefusedBeforeAnyCommand) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  h.atapi->drives[0].filter = CommandFilter::KernelSafeList;
  const std::size_t sentBefore = h.Drive(0).CommandLog().size();
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Drive(0).CommandLog().size(), sentBefore);
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(h.view.boxes[0].caption, "Error");
  for (const char* part : {"reached through sim:0", "(opcode 3Bh)", "Nothing was sent to the drive.", "/dev/sg*",
                           "usermod -aG cdrom", "modprobe sg", "Running without root"}) {
    EXPECT_NE(h.view.boxes[0].text.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_FALSE(h.sim->Held(0));
  ExpectIdleAndUnlocked();
}

TEST_F(Update, VendorCommandsPassTheKernelsFilter) {
  const TestImage image = MakeImage(Drive0Template("1.02"), 7);
  Prepare(image.container);
  h.atapi->drives[0].filter = CommandFilter::KernelSafeList;
  h.view.defaultAnswer = true;
  h.Form().BitBtn2Click();
  EXPECT_GT(h.Drive(0).CommandCount(SimCommand::FlashData), 0) << ::testing::PrintToString(h.view.BoxTexts());
}

// One drive, one flasher: the sequence holds the drive from its first question to
// its last command, and a drive someone else holds is left alone.
TEST_F(Update, TheDriveIsHeldForTheWholeSequenceAndABusyDriveIsLeftAlone) {
  Prepare(MakeImage(Drive0Template("1.02")).container);
  HoldResult other = h.sim->Hold(0, [](const std::string&) {});
  ASSERT_NE(other.hold, nullptr);
  const std::size_t sentBefore = h.Drive(0).CommandLog().size();
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Drive(0).CommandLog().size(), sentBefore);
  ASSERT_EQ(h.view.BoxTexts(),
            std::vector<std::string>{"Drive 0 (sim:0) is being flashed by another program."
                                     " Nothing was written to it. Let that flash end, then try again; other drives can be flashed meanwhile."});
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  ExpectIdleAndUnlocked();

  other.hold.reset();
  std::vector<bool> heldAtQuestions;
  h.view.onQuestion = [&](const std::string&) { heldAtQuestions.push_back(h.sim->Held(0)); };
  h.Form().BitBtn2Click();
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed) << ::testing::PrintToString(h.view.BoxTexts());
  EXPECT_EQ(heldAtQuestions, std::vector<bool>{false});  // the restart question comes after the last command
  EXPECT_FALSE(h.sim->Held(0));
}

// Decided on the image alone: Start sends the drive nothing, not even the version question.
TEST_F(Update, AnImageTheProcedureCannotSendWholeIsRefusedBeforeAnyCommand) {
  struct Case {
    uint8_t type;
    uint32_t length;
    std::string box, line;
  };
  const std::vector<Case> cases{
      {8, 8 * 65536,
       "This image cannot be sent whole: bytes 20000h to 7FFFFh are not all zero, and flash type 8 does not send "
       "them to their place: it sends banks 0 and 1 only.",
       "This image cannot be sent whole: bytes 20000h to 7FFFFh are not all zero, and flash type 8 does not send "
       "them to their place: it sends banks 0 and 1 only."},
      {6, 20 * 65536, "Write Buffer Fail !",
       "Flash type 6 cannot carry this image: it writes 1 to 16 whole banks of 64 KiB in one pass, or 32 in two."}};
  for (const Case& c : cases) {
    build::OfsLayout layout;
    layout.atapiFlashType = c.type;
    Prepare(build::BuildOfs(layout, build::MakeFlatImage(c.length, 5, {Drive0Template("1.02")})));
    h.view.boxes.clear();
    const std::size_t sentBefore = h.Drive(0).CommandLog().size();
    h.Form().BitBtn2Click();
    EXPECT_EQ(h.Drive(0).CommandLog().size(), sentBefore);
    EXPECT_EQ(h.view.BoxTexts(), std::vector<std::string>{c.box});
    EXPECT_TRUE(InOrder(h.view.lines, {c.line, "Nothing was written to the drive."}));
    EXPECT_EQ(h.view.lines.back(), "Nothing was written to the drive.");
    EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
    ExpectIdleAndUnlocked();
  }
}

TEST_F(Update, ACancelledQuestionEndsWithNothingWritten) {
  Prepare(MakeImage(Drive0Template("0.90")).container);
  h.view.answers = {false};
  h.Form().BitBtn2Click();
  ASSERT_FALSE(h.view.lines.empty());
  EXPECT_EQ(h.view.lines.back(), "Nothing was written to the drive.");
  EXPECT_FALSE(Flashed(0));
}

// An image's ID field that ends at a zero and a drive's that ends in a blank are the same ID.
TEST(ModelQuestion, AHardwareIdIsComparedWithoutItsPadding) {
  const std::pair<const char*, std::string> cases[] = {{"A", std::string("A\0", 2)}, {"  ", std::string(2, '\0')}};
  for (const auto& [drive, field] : cases) {
    SimProfile profile = BuiltInDemoProfile(true);
    profile.drives[0].hardwareId = drive;
    AppHarness h(profile);
    h.Form().FormCreate();
    TestImage image = MakeImage(Drive0Template("1.02"));
    std::copy(field.begin(), field.end(), image.flat.begin() + 0x200 + 38);
    build::OfsLayout layout;
    layout.atapiFlashType = 6;
    h.Form().LoadFirmwareFile(h.WriteFile("image.ofs", build::BuildOfs(layout, image.flat)));
    EXPECT_TRUE(h.Form().WriteWarnings(0).empty()) << ::testing::PrintToString(h.Form().WriteWarnings(0));
  }
}

// Only both identities equal pass without the question; Cancel is its default and writes nothing.
TEST_F(Update, AnImageForAnotherModelOrHardwareIsAskedAboutFirst) {
  build::InquiryTemplate otherHardware = Drive0Template("1.02");
  otherHardware.hardwareId = "C3";
  Prepare(MakeImage(otherHardware).container);
  h.view.answers = {false};
  h.Form().BitBtn2Click();
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(h.view.boxes[0].text,
            "This firmware is for ORVA KZR-3350P2 (C3). The selected drive is ORVA KZR-3350P2 (A1). Write it anyway?");
  EXPECT_EQ(h.view.boxes[0].caption, "Warning!");
  EXPECT_TRUE(h.view.boxes[0].cancelDefault);
  EXPECT_EQ(h.view.lines.back(), "Nothing was written to the drive.");
  EXPECT_FALSE(Flashed(0));
  ExpectIdleAndUnlocked();

  h.Form().LoadFirmwareFile(h.WriteFile("other.ofs", MakeImage(Drive1Template("2.20")).container));
  h.view.SelectDriveItem(0);
  h.view.answers = {true};
  h.Form().BitBtn2Click();
  EXPECT_EQ(Questions()[1],
            "This firmware is for ORVA KZW-5520 (B2). The selected drive is ORVA KZR-3350P2 (A1). Write it anyway?");
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Completed);
  EXPECT_TRUE(Flashed(0));
}

TEST_F(Update, SilentStillAsksBeforeOverwritingNewerFirmware) {
  Prepare(MakeImage(Drive0Template("0.90")).container);
  h.Form().Silent1Click();
  h.view.answers = {false};
  h.Form().BitBtn2Click();
  EXPECT_EQ(Questions(), std::vector<std::string>{"1.00 is newer than 0.90 !! Update the drive ?"});
  EXPECT_FALSE(Flashed(0));
  ExpectIdleAndUnlocked();
}

TEST_F(Update, ADriveThatRefusesToProgramFailsEvenWithoutVerification) {
  // The commit carries a header checksum that is not the sum of the image: the drive refuses it.
  build::OfsLayout layout;
  layout.atapiFlashType = 1;
  layout.bankSizes.assign(4, 65534);  // what one bank command carries
  layout.headerChecksum = 0x4242;
  Prepare(build::BuildOfs(layout, MakeImage(Drive0Template("1.02")).flat));
  h.Form().check_verifyClick(false);
  const std::vector<uint8_t> before = FlashPrefix(0, 0x40000);
  h.Form().BitBtn2Click();
  // Bank data reached the drive, so the box goes on with the way back.
  ASSERT_EQ(h.view.BoxTexts().size(), 1u);
  EXPECT_TRUE(h.view.BoxTexts()[0].starts_with("Write Buffer Fail !\n\nThe drive may hold incomplete firmware."));
  EXPECT_EQ(h.Form().lastUpdate, TMainForm::UpdateOutcome::Failed);
  EXPECT_EQ(FlashPrefix(0, 0x40000), before);
  ExpectIdleAndUnlocked();
}

}  // namespace
}  // namespace ofs::test
