// What lies below the process: the system's power, the path's transfer limit and a
// drive that leaves the system in the middle of a flash.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/FakeLoginManager.h"
#include "system/RunHistory.h"
#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolBelow : public test::ToolTest {
 protected:
  std::vector<RunRecord> Records() { return RunHistory(Path("state/ofsflash/history.jsonl")).Read(); }
};

struct PowerCase {
  const char* name;
  test::FakePower power;
  const char* options;
  int exitCode;
  const char* says;  // in what the run printed
};

TEST_F(OfstoolBelow, PowerDecidesWhetherAFlashStarts) {
  BuildImage();
  test::FakePower battery5;
  battery5.onBattery = true;
  battery5.percentage = 5;
  test::FakePower battery50 = battery5;
  battery50.percentage = 50;
  test::FakePower mains = battery5;
  mains.onBattery = false;
  test::FakePower shutdown;
  shutdown.preparingForShutdown = true;
  test::FakePower sleep = battery50;
  sleep.preparingForSleep = true;
  test::FakePower noUpower = battery5;
  noUpower.upower = false;
  const PowerCase cases[] = {
      {"battery5", battery5, "", 1, "runs on battery with 5% charge left, less than the 10%"},
      {"battery5dry", battery5, "--dry-run", 1, "--ignore-power"},
      {"battery50", battery50, "", 0, "All Completed!"},
      {"mains", mains, "", 0, "All Completed!"},
      {"ignored", battery5, "--ignore-power", 0, "All Completed!"},
      {"shutdown", shutdown, "--ignore-power", 1, "The system is preparing to shut down"},
      {"sleep", sleep, "", 1, "The system is preparing to sleep"},
      {"noUpower", noUpower, "", 0, "All Completed!"},
  };
  for (const PowerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bus = Path(std::string(c.name) + ".bus");
    const std::string trace = Path(std::string(c.name) + ".trace");
    test::FakeLoginManager system(bus, c.power);
    ASSERT_TRUE(system.Listening());
    const std::size_t recordsBefore = Records().size();
    const RunResult run = Run("OFSFLASH_SIMULATE=fast DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + bus +
                              " OFSFLASH_TRACE=" + trace + " " + Tool("ofstool") + " flash --yes --drive 0 " +
                              c.options + " " + Path("a.ofs"));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
    const bool traced = ReadText(trace).find("# power: no UPower") != std::string::npos;
    EXPECT_EQ(traced, !c.power.upower);
    const std::vector<RunRecord> records = Records();
    ASSERT_GE(records.size(), recordsBefore);
    if (c.exitCode == 0 || std::string(c.options) == "--dry-run") {
      EXPECT_EQ(records.size() - recordsBefore, c.exitCode == 0 ? 2u : 0u);
      continue;
    }
    // A refusal is kept as a run that wrote nothing.
    ASSERT_EQ(records.size() - recordsBefore, 2u);
    EXPECT_EQ(records.back().event, "end");
    EXPECT_EQ(records.back().exitCode, 1);
    EXPECT_FALSE(records.back().touched);
    EXPECT_NE(records.back().result.find(c.says), std::string::npos) << records.back().result;
  }
}

// A piece larger than the path carries is refused before the first command, in the dry run too.
TEST_F(OfstoolBelow, APieceLargerThanThePathCarriesIsRefusedBeforeAnyCommand) {
  BuildImage();
  for (const char* kb : {"8", "16"}) {
    SCOPED_TRACE(kb);
    const std::string profile = Path(std::string(kb) + ".profile");
    std::ofstream(profile) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nmax_transfer_kb = "
                           << kb << "\n";
    const std::string ofstool = "OFSFLASH_SIMULATE=" + profile + " " + Tool("ofstool") + " flash --yes --drive 0 ";
    const RunResult dry = Run(ofstool + "--dry-run " + Path("a.ofs"));
    const RunResult real = Run(ofstool + "--json " + Path("a.ofs"));
    const bool fits = std::string(kb) == "16";
    EXPECT_EQ(dry.exitCode, fits ? 0 : 1) << dry.out << dry.err;
    EXPECT_EQ(real.exitCode, fits ? 0 : 1) << real.out << real.err;
    EXPECT_EQ(real.out.find("\"drive_touched\":false") != std::string::npos, !fits) << real.out;
    for (const RunResult* run : {&dry, &real}) {
      const std::string said = run->out + run->err;
      EXPECT_EQ(said.find("at most 8192 bytes (8 KiB) in one command, but this firmware is sent in pieces of 16384 "
                          "bytes (16 KiB)") != std::string::npos,
                !fits)
          << said;
      EXPECT_EQ(said.find("othing was written to drive 0") != std::string::npos, !fits) << said;
    }
  }
}

// A drive that leaves the system at the third piece of its kernel flash ends the run at once; with
// the drive back, the same command flashes it without any clean-up by hand.
TEST_F(OfstoolBelow, ADriveThatDisappearsEndsTheRunAndComesBackFlashable) {
  BuildImage();
  const std::string drive = "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nflash_file = " +
                            Path("flash.bin") + "\n";
  std::ofstream(Path("gone.profile")) << drive << "fail = 3B:06 at 3 gone\n";
  std::ofstream(Path("back.profile")) << drive;
  const std::string flash = " " + Tool("ofstool") + " flash --yes --drive 0 " + Path("a.ofs");
  const RunResult gone = Run("OFSFLASH_SIMULATE=" + Path("gone.profile") + flash);
  EXPECT_EQ(gone.exitCode, 3) << gone.out << gone.err;
  EXPECT_NE(gone.err.find("drive 0 disappeared (unplugged, or reset by the bus) after writing began"),
            std::string::npos)
      << gone.err;
  EXPECT_NE(gone.err.find("run 'ofstool drives'"), std::string::npos) << gone.err;
  ASSERT_FALSE(Records().empty());
  EXPECT_EQ(Records().back().result, "drive disappeared");
  EXPECT_EQ(Records().back().exitCode, 3);
  const RunResult back = Run("OFSFLASH_SIMULATE=" + Path("back.profile") + flash);
  EXPECT_EQ(back.exitCode, 0) << back.out << back.err;
}

}  // namespace
}  // namespace ofs
