// Every command of the update sequence, for every flash type, made to fail once
// (CHECK CONDITION, and separately a transport failure), and drives that never get
// ready, never finish, stay in boot code or are gone: the sequence must end, report
// a failure with a text or really have flashed, enable the controls again and
// leave the tray unlocked.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/AppHarness.h"
#include "drive/sim/SimCommand.h"

namespace ofs::test {
namespace {

struct FlashKind {
  const char* name;
  uint8_t atapiType;  // 0 = Philips image
};

constexpr FlashKind kKinds[] = {{"Type1", 1}, {"Type2", 2}, {"Type3", 3}, {"Type4", 4}, {"Type5", 5},
                                {"Type6", 6}, {"Type7", 7}, {"Type8", 8}, {"Philips", 0}};

struct Image {
  std::vector<uint8_t> file;
  std::vector<uint8_t> flat;
  std::vector<std::pair<std::size_t, std::size_t>> used;  // offset, length of what the image owns
};

// An image drive 0 accepts; banks stay below one transfer so every procedure can send them.
Image ImageFor(const FlashKind& kind) {
  Image image;
  if (kind.atapiType == 0) {
    image.file = MakePhilipsFile(4 * 16384 - 40, Drive0Template("1.02"));
    image.flat.assign(image.file.begin() + 36, image.file.end() - 4);
    image.used.push_back({0, image.flat.size()});
    return image;
  }
  // Type 8 always sends two whole banks.
  const std::size_t banks = kind.atapiType == 8 ? 2 : 4;
  const uint32_t used = kind.atapiType == 8 ? 0x10000 : 0xF000;
  image.flat = build::MakeFlatImage(banks * 0x10000, 11, {Drive0Template("1.02")});
  build::OfsLayout layout;
  layout.atapiFlashType = kind.atapiType;
  layout.bankSizes.assign(banks, used);
  for (std::size_t bank = 0; bank < banks; ++bank) image.used.push_back({bank * 0x10000, used});
  image.file = build::BuildOfs(layout, image.flat);
  return image;
}

bool FlashHolds(const std::vector<uint8_t>& flash, const Image& image) {
  for (const auto& [offset, length] : image.used) {
    if (offset + length > flash.size()) return false;
    if (!std::equal(flash.begin() + static_cast<std::ptrdiff_t>(offset),
                    flash.begin() + static_cast<std::ptrdiff_t>(offset + length),
                    image.flat.begin() + static_cast<std::ptrdiff_t>(offset)))
      return false;
  }
  return true;
}

// Commands whose result the procedure of that type does not examine: their failure
// may end in "Completed" although the image did not reach the flash.
bool ResultIgnored(uint8_t atapiType, SimCommand command, bool lastUse) {
  switch (atapiType) {
    case 0: return command == SimCommand::FirmwareBlock && lastUse;  // the last Philips block
    case 1: case 3: case 4: case 5: case 7: return command == SimCommand::FlashCommit;
    case 2: return command == SimCommand::BlockSum;
    case 6: return command == SimCommand::Trigger;
    case 8: return command == SimCommand::WriteBuffer || command == SimCommand::BankSave;
    default: return false;
  }
}

bool Writes(SimCommand c) {
  switch (c) {
    case SimCommand::FlashData: case SimCommand::FlashCommit: case SimCommand::BlockSum:
    case SimCommand::FirmwareBlock: case SimCommand::WriteBuffer: case SimCommand::Trigger:
    case SimCommand::BankSave: case SimCommand::DownloadMode: case SimCommand::ChecksumSet: return true;
    default: return false;
  }
}

// After the use-th `command`, was anything sent that writes to the drive?
bool WritesAfter(const std::vector<SimCommand>& sent, SimCommand command, int use) {
  auto it = sent.begin();
  for (int seen = 0; it != sent.end() && seen < use; ++it) seen += *it == command ? 1 : 0;
  return std::any_of(it, sent.end(), Writes);
}

struct Outcome {
  TMainForm::UpdateOutcome outcome = TMainForm::UpdateOutcome::None;
  std::vector<SimCommand> sent;  // by the Start button, in order
  std::vector<Box> boxes;        // shown by the Start button
  bool controlsEnabled = false;
  bool unlocked = false;
  bool lastPreventAllowUnlocks = false;
  bool flashHoldsImage = false;
};

// One press of Start on demo drive 0, with `failure` injected and `fault` applied
// to the drive's settings when given.
Outcome Update(const FlashKind& kind, const std::optional<SimFailure>& failure,
               void (*fault)(SimDriveProfile&) = nullptr) {
  AppHarness h;
  const Image image = ImageFor(kind);
  h.Form().FormCreate();
  const std::string path = h.WriteFile("image.bin", image.file);
  // The loader takes a Philips file from an archive (as the update packages carry it).
  h.Form().LoadFirmwareFile(kind.atapiType == 0 ? h.WriteZip("image.zip", {path}) : path);
  EXPECT_TRUE(h.view.IsEnabled(Control::BitBtn2)) << ::testing::PrintToString(h.view.BoxTexts());
  h.view.SelectDriveItem(0);
  // Yes to every question (type 7 images carry no version where the drive line has one).
  h.view.defaultAnswer = true;
  const std::size_t logBefore = h.Drive(0).CommandLog().size();
  const std::size_t boxesBefore = h.view.boxes.size();
  if (failure) h.Drive(0).AddFailure(*failure);
  if (fault) fault(h.Drive(0).Settings());

  h.Form().BitBtn2Click();

  Outcome run;
  run.outcome = h.Form().lastUpdate;
  const auto& log = h.Drive(0).CommandLog();
  for (std::size_t i = logBefore; i < log.size(); ++i) {
    run.sent.push_back(ClassifyCdb(log[i].data()));
    if (run.sent.back() == SimCommand::PreventAllow) run.lastPreventAllowUnlocks = (log[i][4] & 0x01) == 0;
  }
  run.boxes.assign(h.view.boxes.begin() + static_cast<std::ptrdiff_t>(boxesBefore), h.view.boxes.end());
  run.controlsEnabled = true;
  for (Control c : {Control::BitBtn1, Control::BitBtn2, Control::BitBtn4, Control::Window})
    run.controlsEnabled = run.controlsEnabled && h.view.IsEnabled(c);
  run.unlocked = !h.Drive(0).MediumRemovalPrevented() && !h.Drive(1).MediumRemovalPrevented();
  run.flashHoldsImage = FlashHolds(h.Drive(0).Flash(), image);
  return run;
}

// For each kind of command the clean run sent: how often.
std::map<SimCommand, int> Uses(const std::vector<SimCommand>& sent) {
  std::map<SimCommand, int> uses;
  for (SimCommand c : sent) ++uses[c];
  return uses;
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<FlashKind, bool>> {};

TEST_P(FaultMatrix, EveryCommandFailingOnceEndsCleanly) {
  const auto [kind, transport] = GetParam();
  const Outcome clean = Update(kind, std::nullopt);
  ASSERT_EQ(clean.outcome, TMainForm::UpdateOutcome::Completed)
      << (clean.boxes.empty() ? std::string() : clean.boxes.back().text);
  ASSERT_TRUE(clean.flashHoldsImage);

  for (const auto& [command, count] : Uses(clean.sent)) {
    // The first use, and the last one (for the lock: the unlock after flashing).
    for (int use : count == 1 ? std::vector<int>{1} : std::vector<int>{1, count}) {
      SCOPED_TRACE("SimCommand " + std::to_string(static_cast<int>(command)) + " use " + std::to_string(use) +
                   " of " + std::to_string(count));
      SimFailure failure;
      failure.selector.command = command;
      failure.firstUse = use;
      failure.times = 1;
      failure.transportError = transport;
      failure.sense = {0x05, 0x24, 0x00};  // ILLEGAL REQUEST / INVALID FIELD IN CDB
      const Outcome run = Update(kind, failure);

      EXPECT_NE(run.outcome, TMainForm::UpdateOutcome::None);
      EXPECT_TRUE(run.controlsEnabled);
      if (command == SimCommand::PreventAllow) {
        // A drive that refuses the unlock stays locked; the program must at least have asked.
        EXPECT_TRUE(run.lastPreventAllowUnlocks);
      } else {
        EXPECT_TRUE(run.unlocked);
      }
      if (run.outcome == TMainForm::UpdateOutcome::Completed) {
        // Finishing is fine after an ignored result; otherwise the image must really be in the flash.
        if (!ResultIgnored(kind.atapiType, command, use == count)) {
          EXPECT_TRUE(run.flashHoldsImage);
        }
      } else {
        // Only the kernel procedure (type 6) tries again after a refused write. A lost
        // reply the procedure does not look at may show only in the drive's next answer.
        if (kind.atapiType != 6 && !(transport && ResultIgnored(kind.atapiType, command, use == count))) {
          EXPECT_FALSE(WritesAfter(run.sent, command, use));
        }
        ASSERT_FALSE(run.boxes.empty());
        EXPECT_EQ(run.boxes.back().caption, "Error");
        EXPECT_FALSE(run.boxes.back().text.empty());
      }
    }
  }
}

struct DriveFault {
  const char* name;
  void (*apply)(SimDriveProfile&);
  bool cannotComplete;  // no update can be reported as done on such a drive
};

constexpr DriveFault kDriveFaults[] = {
    {"NeverReady", [](SimDriveProfile& d) { d.neverReady = true; }, true},
    {"ProgressNeverEnds", [](SimDriveProfile& d) { d.neverFinish = true; }, false},
    {"BootForever", [](SimDriveProfile& d) { d.stayInBoot = 1000; }, false},
    {"Unplugged", [](SimDriveProfile& d) { d.unplugged = true; }, true},
};

class DriveFaultMatrix : public ::testing::TestWithParam<std::tuple<FlashKind, DriveFault>> {};

// The drive misbehaves from the Start button on: the waits end on the virtual clock,
// the sequence ends with a failure or, where the procedure does not look, completes,
// and the controls come back.
TEST_P(DriveFaultMatrix, EndsAndEnablesTheControls) {
  const auto [kind, fault] = GetParam();
  const Outcome run = Update(kind, std::nullopt, fault.apply);
  EXPECT_NE(run.outcome, TMainForm::UpdateOutcome::None);
  if (fault.cannotComplete) {
    EXPECT_EQ(run.outcome, TMainForm::UpdateOutcome::Failed);
  }
  EXPECT_TRUE(run.controlsEnabled);
  // An unplugged drive keeps whatever lock it had; the program must still have asked to unlock.
  if (std::string(fault.name) == "Unplugged") {
    const bool lockSent = std::count(run.sent.begin(), run.sent.end(), SimCommand::PreventAllow) > 0;
    EXPECT_TRUE(!lockSent || run.lastPreventAllowUnlocks);
  } else {
    EXPECT_TRUE(run.unlocked);
  }
  if (run.outcome == TMainForm::UpdateOutcome::Failed) {
    ASSERT_FALSE(run.boxes.empty());
    EXPECT_FALSE(run.boxes.back().text.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, DriveFaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(kKinds), ::testing::ValuesIn(kDriveFaults)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
                         });

INSTANTIATE_TEST_SUITE_P(AllTypes, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(kKinds), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "Transport" : "CheckCondition");
                         });

}  // namespace
}  // namespace ofs::test
