// ofstool flash as a person at a terminal meets it.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>

#include "drive/sim/SimBackend.h"
#include "firmware/Ofs.h"
#include "ofstool/FlashAll.h"
#include "support/FakeLoginManager.h"
#include "support/FakePlatform.h"
#include "system/RunHistory.h"
#include "system/ScopedEnv.h"
#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolFlash : public test::ToolTest {};

// Four drives of one model and a fifth of another; the third fails at its third bank write.
constexpr char kFourDrives[] =
    "clock = virtual\n"
    "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
    "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
    "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nfail = write_buffer at 3 times always sense 03/0C/00\n"
    "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
    "[drive]\nproduct = KZW-5520\nhardware_id = B2\n";

// What the workers print, seen line by line as they print it.
struct Screen {
  std::mutex mutex;
  std::string text;
  std::function<void(const std::string&)> onLine;

  static ssize_t Write(void* cookie, const char* bytes, size_t size) {
    auto& screen = *static_cast<Screen*>(cookie);
    const std::string chunk(bytes, size);
    {
      const std::lock_guard<std::mutex> lock(screen.mutex);
      screen.text += chunk;
    }
    if (screen.onLine) screen.onLine(chunk);
    return static_cast<ssize_t>(size);
  }
};

// The CDBs the trace shows for drive `drive`, in order.
std::vector<std::string> TracedCommands(const std::string& trace, int drive) {
  std::vector<std::string> cdbs;
  std::istringstream lines(trace);
  const std::string prefix = std::to_string(drive) + " ";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) cdbs.push_back(line.substr(prefix.size(), 24));
  }
  return cdbs;
}

std::vector<std::string> ReceivedCommands(SimulatedDrive& drive) {
  std::vector<std::string> cdbs;
  for (const auto& cdb : drive.CommandLog()) {
    char hex[25];
    for (std::size_t i = 0; i < cdb.size(); ++i) std::snprintf(hex + 2 * i, 3, "%02x", cdb[i]);
    cdbs.emplace_back(hex, 24);
  }
  return cdbs;
}

// Each drive goes its own way: the failing one does not stop the others, every
// drive receives exactly the commands traced for it and no other drive's, a drive
// not in the run receives none, and while a drive is flashed its lock refuses a
// second flasher.
TEST_F(OfstoolFlash, FourDrivesAtOnceEachOnItsOwnWithItsLock) {
  BuildImage();
  const SimProfileResult parsed = ParseSimProfile(kFourDrives);
  ASSERT_TRUE(parsed.profile) << parsed.error;
  VirtualClock clock;
  auto backend = std::make_unique<SimBackend>(*parsed.profile, clock);
  SimBackend& sim = *backend;
  TAtapiImp atapi(std::move(backend), clock, true, CommandTrace::Open(Path("trace.txt")));
  const std::unique_ptr<TAtapiImp> single = atapi.Share();
  ASSERT_TRUE(single);
  Screen screen;
  std::string refusal;
  screen.onLine = [&](const std::string& line) {
    if (line == "[drive 1] Flashing is processing...\n") refusal = single->ClaimDrive(1);
  };
  std::FILE* out = fopencookie(&screen, "w", {nullptr, Screen::Write, nullptr, nullptr});
  std::FILE* err = std::tmpfile();
  test::FakePlatform platform;
  ofstool::ConsoleOptions console;
  console.answers = ofstool::AnswerPolicy::Yes;
  const ofstool::FlashAllSetup setup{atapi, platform, Path("a.ofs"), std::nullopt, console, out, err, nullptr};
  const auto outcomes = ofstool::FlashDrives({0, 1, 2, 3}, setup);
  std::fclose(out);
  std::fclose(err);

  ASSERT_EQ(outcomes.size(), 4u);
  for (int d : {0, 1, 3}) {
    EXPECT_EQ(outcomes[d].code, 0) << d << screen.text;
    EXPECT_NE(outcomes[d].after.find("1.02"), std::string::npos) << outcomes[d].after;
    const auto inquiry = sim.Drive(d).InquiryData();
    EXPECT_EQ(std::string(inquiry.begin() + 32, inquiry.begin() + 36), "1.02") << d;
  }
  EXPECT_EQ(outcomes[2].code, 3);
  EXPECT_EQ(outcomes[2].failure, "Write Buffer Fail !");
  EXPECT_EQ(ofstool::CombinedExitCode(outcomes), 3);
  // A drive flashed but not verified needs the least: 3, then 1, then 5.
  for (const auto& [codes, worst] :
       std::vector<std::pair<std::vector<int>, int>>{{{0, 5, 1}, 1}, {{5, 3, 0}, 3}, {{0, 5, 0}, 5}}) {
    std::vector<ofstool::DriveOutcome> each;
    for (int code : codes) {
      each.emplace_back();
      each.back().code = code;
    }
    EXPECT_EQ(ofstool::CombinedExitCode(each), worst) << ::testing::PrintToString(codes);
  }
  EXPECT_NE(screen.text.find("[drive 2] Write Buffer Fail !\n"), std::string::npos) << screen.text;
  EXPECT_EQ(refusal, "Drive 1 (sim:1) is being flashed by another program."
                     " Nothing was written to it. Let that flash end, then try again; other drives can be flashed meanwhile.");

  const std::string trace = ReadText(Path("trace.txt"));
  for (int d = 0; d < 4; ++d) {
    EXPECT_EQ(TracedCommands(trace, d), ReceivedCommands(sim.Drive(d))) << "drive " << d;
    EXPECT_GE(sim.Drive(d).OpcodeCount(0x3B), 3) << "drive " << d;
  }
  EXPECT_TRUE(sim.Drive(4).CommandLog().empty());
  EXPECT_FALSE(sim.Held(1));
}

// What a person or a script sees of a run over several drives: lines tagged by
// drive, a summary with the failure and its class, the worst exit code; JSON events
// that carry their drive; on a terminal one bar per drive.
TEST_F(OfstoolFlash, AllDrivesAtOnceReportEachDrive) {
  BuildImage();
  std::ofstream(Path("four.profile")) << kFourDrives;
  const std::string all = "OFSFLASH_SIMULATE=" + Path("four.profile") + " " + Tool("ofstool") + " flash --all --yes ";
  const RunResult run = Run(all + Path("a.ofs") + " </dev/null");
  EXPECT_EQ(run.exitCode, 3) << run.err;
  EXPECT_NE(run.out.find("Left alone: drive 4 (sim:4)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("[drive 3] Flashing finished !\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n3      ORVA    KZR-3350P2       1.00 000000      ORVA    KZR-3350P2       1.02"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  exit 3: Write Buffer Fail !\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("ofstool: drive 2 may hold incomplete firmware."), std::string::npos) << run.err;
  // A Philips image names no model: it is for no drive in particular.
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("p.bin") + " --format philips --image-size 0x20000").exitCode, 0);
  const RunResult philips = Run(all + Path("p.bin") + " </dev/null");
  EXPECT_EQ(philips.exitCode, 1);
  EXPECT_NE(philips.err.find("no drive this image is for; nothing was written"), std::string::npos) << philips.err;

  const std::string check =
      "python3 -c 'import json, sys\n"
      "events = [json.loads(line) for line in sys.stdin]\n"
      "done = sorted(e[\"drive\"] for e in events if e.get(\"text\") == \"Flashing finished !\")\n"
      "r = events[-1]\n"
      "print(done, r[\"exit\"], [d[\"exit\"] for d in r[\"drives\"]], r[\"drives\"][2][\"failure\"], sep=\"|\")'";
  const RunResult json = Run(all + "--json " + Path("a.ofs") + " </dev/null | " + check);
  EXPECT_EQ(json.out, "[0, 1, 3]|3|[0, 0, 3, 0]|Write Buffer Fail !\n") << json.err;

  setenv("OFSFLASH_SIMULATE", Path("four.profile").c_str(), 1);
  const auto [code, screen] = RunOnTerminal({Tool("ofstool"), "flash", "--all", "--yes", Path("a.ofs")}, "");
  unsetenv("OFSFLASH_SIMULATE");
  EXPECT_EQ(code, 3) << screen;
  EXPECT_NE(screen.find("\x1b[Kdrive 3 [########################] 100%"), std::string::npos) << screen;
}

// A drive with newer firmware is asked about once for all drives, before any drive
// is written; Cancel leaves that drive untouched and lets the other go ahead.
TEST_F(OfstoolFlash, AllDrivesAskTheNewerFirmwareQuestionOnceBeforeAnyWrite) {
  BuildImage();
  std::ofstream(Path("two.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                     << "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nrevision = 2.00\n";
  const std::string check =
      "python3 -c 'import json, sys\n"
      "events = [json.loads(line) for line in sys.stdin]\n"
      "asked = [i for i, e in enumerate(events) if e.get(\"caption\") == \"Warning!\"]\n"
      "first = min(i for i, e in enumerate(events) if \"drive\" in e and e[\"event\"] != \"result\")\n"
      "print(len(asked), asked[0] < first, events[asked[0]][\"text\"].splitlines()[0], events[-1][\"exit\"],\n"
      "      [d[\"exit\"] for d in events[-1][\"drives\"]], sep=\"|\")'";
  const RunResult run = Run("OFSFLASH_SIMULATE=" + Path("two.profile") + " " + Tool("ofstool") +
                            " flash --all --yes --no --json " + Path("a.ofs") + " </dev/null | " + check);
  EXPECT_EQ(run.out, "1|True|drive 1: 2.00 is newer than 1.02 !! Update the drive ?|1|[0, 1]\n") << run.err;
}

// Before the first write, one Esc, without Enter, ends the drive's wait (here the wait
// for a PIONEER drive in discovery) with nothing written and no run recorded.
TEST_F(OfstoolFlash, EscInAWaitBeforeTheFirstWriteEndsTheRunWithNothingWritten) {
  BuildImage();
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nvendor = PIONEER\nproduct = DVD-RW DVR-110\n"
                                          "never_ready = yes\n";
  setenv("OFSFLASH_SIMULATE", Path("drive.profile").c_str(), 1);
  const auto [code, screen] = RunOnTerminal({Tool("ofstool"), "flash", "--yes", Path("a.ofs")}, "\x1b");
  unsetenv("OFSFLASH_SIMULATE");
  EXPECT_EQ(code, 1) << screen;
  EXPECT_NE(screen.find("aborted by the user (Esc) while waiting for the drive. Nothing was written to the drive."),
            std::string::npos)
      << screen;
  EXPECT_TRUE(RunHistory(Path("state/ofsflash/history.jsonl")).Read().empty());
}

// An arrow or a function key sends Esc and more: the wait goes on to its own end
// (here the drive's time-out), only a lone Esc aborts.
TEST_F(OfstoolFlash, KeysThatBeginWithEscLeaveTheReadyWaitRunning) {
  BuildImage();
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nnever_ready = yes\n";
  setenv("OFSFLASH_SIMULATE", Path("drive.profile").c_str(), 1);
  for (const char* keys : {"\x1b[A", "\x1b[15~", "\x1b[[E"}) {
    const auto [code, screen] = RunOnTerminal({Tool("ofstool"), "flash", "--yes", Path("a.ofs")}, keys);
    EXPECT_EQ(code, 3) << screen;
    EXPECT_EQ(screen.find("aborted by the user (Esc)"), std::string::npos) << screen;
  }
  unsetenv("OFSFLASH_SIMULATE");
}

// While it holds the drive, ofstool holds the login manager's block lock: taken
// before the sequence's first question, given back by the time it ends.
TEST_F(OfstoolFlash, HoldsOffSuspendAndShutdownWhileItHoldsTheDrive) {
  BuildImage();
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                          "revision = 2.00\nflash_file = flash.bin\n";
  const test::ScopedEnv drive("OFSFLASH_SIMULATE", Path("drive.profile"));
  const test::ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + Path("bus"));
  test::FakeLoginManager login1(Path("bus"));
  ASSERT_TRUE(login1.Listening());
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    const std::string tool = Tool("ofstool");
    const std::string image = Path("a.ofs");
    execl(tool.c_str(), tool.c_str(), "flash", "--drive", "0", image.c_str(), nullptr);
    _exit(127);
  }
  ASSERT_GT(child, 0);
  std::string screen;
  char chunk[1024];
  bool confirmed = false;
  bool lockedDuringQuestion = false;
  for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) {
    screen.append(chunk, static_cast<std::size_t>(n));
    // The write is confirmed once asked; then the drive's newer firmware is asked about.
    if (!confirmed && screen.find("[y/N] ") != std::string::npos) {
      confirmed = true;
      ASSERT_EQ(write(master, "y\n", 2), 2);
    }
    if (!lockedDuringQuestion && screen.find("Update the drive ?") != std::string::npos &&
        screen.find("[OK/Cancel]? ", screen.find("Update the drive ?")) != std::string::npos) {
      lockedDuringQuestion = login1.LockOpen();
      ASSERT_EQ(write(master, "y\n", 2), 2);
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
  EXPECT_NE(screen.find("All Completed!"), std::string::npos) << screen;
  EXPECT_TRUE(lockedDuringQuestion) << screen;
  EXPECT_TRUE(login1.LockReleased());
  EXPECT_EQ(login1.Requests(), std::vector<std::string>{"shutdown:sleep:idle:handle-lid-switch:handle-power-key:"
                                                        "handle-suspend-key:handle-hibernate-key|ofsflash|"
                                                        "Updating drive firmware|block"});
  EXPECT_EQ(screen.find("no login manager"), std::string::npos) << screen;
}

// Without a login manager the flash goes on, and says so once; --all too.
TEST_F(OfstoolFlash, FlashesWithoutALoginManagerAndSaysSoOnce) {
  BuildImage();
  for (const char* options : {"--drive 0", "--all"}) {
    const RunResult run = Run("OFSFLASH_SIMULATE=fast DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + Path("nobody") + " " +
                              Tool("ofstool") + " flash --yes " + options + " " + Path("a.ofs") + " </dev/null");
    EXPECT_EQ(run.exitCode, 0) << options << run.err;
    const std::string notice = "ofstool: no login manager to hold off suspend and shutdown; flashing all the same.\n";
    const std::size_t said = run.err.find(notice);
    EXPECT_NE(said, std::string::npos) << options << run.err;
    EXPECT_EQ(run.err.find(notice, said + 1), std::string::npos) << options << run.err;
  }
}

// The exit code alone tells whether the drive was touched.
TEST_F(OfstoolFlash, TheExitCodeSaysWhetherTheDriveWasTouched) {
  BuildImage();
  struct Case {
    const char* drive;
    int exitCode;
    const char* lastWord;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"fail = download_mode times always sense 05/24/00\nfail = write_buffer times always sense 05/24/00\n", 1,
       "nothing was written to drive 0"},
      // Every block refused, but download mode left on: the drive is not as it was.
      {"fail = write_buffer times always sense 05/24/00\n", 3, "drive 0 may hold incomplete firmware"},
      {"never_finish = yes\n", 3, "drive 0 may hold incomplete firmware"},
  };
  for (const Case& c : cases) {
    std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n" << c.drive;
    const RunResult run = Run("OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool") +
                              " flash --yes " + Path("a.ofs") + " </dev/null");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.drive << run.err;
    EXPECT_NE(run.err.find(c.lastWord), std::string::npos) << c.drive << run.err;
  }
}

// Cancel at one of the update's own questions is the user's choice: nothing was written,
// and there is no cause to mend; alone or with the other drives.
TEST_F(OfstoolFlash, CancelAtTheUpdatesQuestionHasNothingToMend) {
  BuildImage();
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nrevision = 2.00\n";
  for (const char* all : {"", " --all"}) {
    const RunResult run = Run("OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool") + " flash --yes --no" +
                              all + " " + Path("a.ofs") + " </dev/null");
    EXPECT_EQ(run.exitCode, 1) << all << run.err;
    EXPECT_NE(run.err.find("cancelled at the update's question; nothing was written to drive 0, which still holds"),
              std::string::npos)
        << all << run.err;
    EXPECT_EQ(run.err.find("Mend the cause"), std::string::npos) << all << run.err;
  }
}

// Nothing is written unless someone said yes: on the terminal, or with --yes, and
// with --force too when the image is for another model.
TEST_F(OfstoolFlash, WritesOnlyWhenConfirmed) {
  BuildImage();
  struct Case {
    const char* options;
    int exitCode;
    const char* said;
  };
  const Case cases[] = {
      {"--drive 0", 2, "no terminal to ask on; add --yes"},
      {"--drive 1 --yes", 2, "add --force to write it anyway"},
      {"--drive 1 --yes --force", 0, "WARNING: this image is for ORVA KZR-3350P2 (hardware ID A1), the drive is ORVA "
                                     "KZW-5520 (hardware ID B2)"},
      {"--drive 0 --yes", 0, "Image: " },
      {"--drive 0 --bogus", 2, "unknown option --bogus"},
      {"--drive x", 2, "not a drive number: x"},
      {"--drive 0 --yes --backup ''", 2, "--backup needs a file to save to"},
      {"--drive 0 --backup --yes", 2, "--backup needs a file to save to"},
  };
  for (const Case& c : cases) {
    const std::string trace = Path("trace.txt");
    std::remove(trace.c_str());
    const RunResult run = Run("OFSFLASH_SIMULATE=fast OFSFLASH_TRACE=" + trace + " " + Tool("ofstool") + " flash " +
                              c.options + " " + Path("a.ofs") + " </dev/null");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.options << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no terminal, no control characters";
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << c.options << run.out << run.err;
    // The confirmation above is the one question about another model.
    EXPECT_EQ((run.out + run.err).find("Write it anyway?"), std::string::npos) << c.options;
    const std::string sent = ReadText(trace);
    EXPECT_EQ(sent.find("\n0 3b") != std::string::npos || sent.find("\n1 3b") != std::string::npos, c.exitCode == 0)
        << c.options;
  }
  // Another model with the same hardware ID still needs --force.
  const RunResult other = Run(Tool("mkofs") + " -o " + Path("other.ofs") +
                              " --banks 2 --atapi-type 6 --template 0x100 --product KZX-9999 --hwid A1");
  ASSERT_EQ(other.exitCode, 0) << other.err;
  const RunResult model = Run("OFSFLASH_SIMULATE=fast " + Tool("ofstool") + " flash --yes --drive 0 " +
                              Path("other.ofs") + " </dev/null");
  EXPECT_EQ(model.exitCode, 2);
  EXPECT_NE(model.out.find("WARNING: this image is for ORVA KZX-9999, the drive is ORVA KZR-3350P2\n"),
            std::string::npos)
      << model.out;
  const RunResult help = Run(Tool("ofstool") + " flash --help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Exit codes: 0 done, and verified where asked; 1 failed, nothing was written"), std::string::npos) << help.out;
}

// A Philips image names no model (this one's own template names another maker's drive):
// the confirmation says that nothing checks it fits, by its own name, and --yes needs --force.
TEST_F(OfstoolFlash, APhilipsImageNeedsForceToBeWrittenWithYes) {
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("philips.bin") + " --format philips --name 'Philips DVD test' " +
                "--image-size 0x8000 --template 0x100 --vendor ACME --product ZZ-9000")
                .exitCode,
            0);
  ASSERT_EQ(Run(Tool("samples/mkzip") + " " + Path("philips.zip") + " " + Path("philips.bin")).exitCode, 0);
  const std::pair<const char*, int> cases[] = {{"", 2}, {" --force", 0}};
  for (const auto& [force, exitCode] : cases) {
    const RunResult run = Run("OFSFLASH_SIMULATE=fast OFSFLASH_TRACE=" + Path("trace.txt") + " " + Tool("ofstool") +
                              " flash --yes --drive 0" + force + " " + Path("philips.zip") + " </dev/null");
    EXPECT_EQ(run.exitCode, exitCode) << force << run.err;
    EXPECT_NE(run.out.find("Image: " + Path("philips.zip") + ": Philips DVD test (Philips image, checksum "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("WARNING: a Philips image names no drive model, so nothing can check that it fits drive 0\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(ReadText(Path("trace.txt")).find(" out ") != std::string::npos, exitCode == 0) << force;
  }
}

// On a terminal the question is asked, only yes writes, and the progress bar is drawn.
TEST_F(OfstoolFlash, TheTerminalIsAskedOnce) {
  BuildImage();
  setenv("OFSFLASH_SIMULATE", "fast", 1);
  test::TerminalSetup no, yes;
  no.answers = {"n\n"};
  yes.answers = {"y\n"};
  const auto [refused, refusedScreen] = RunOnTerminal({Tool("ofstool"), "flash", "--drive", "0", Path("a.ofs")}, "", no);
  const auto [written, writtenScreen] = RunOnTerminal({Tool("ofstool"), "flash", "--drive", "0", Path("a.ofs")}, "", yes);
  unsetenv("OFSFLASH_SIMULATE");
  EXPECT_EQ(refused, 2) << refusedScreen;
  EXPECT_NE(refusedScreen.find("Write this firmware to drive 0? [y/N]"), std::string::npos) << refusedScreen;
  EXPECT_EQ(refusedScreen.find("Flashing is processing..."), std::string::npos) << refusedScreen;
  EXPECT_EQ(written, 0) << writtenScreen;
  EXPECT_NE(writtenScreen.find("All Completed!"), std::string::npos) << writtenScreen;
  // The progress bar is one line redrawn in place under the status lines.
  EXPECT_NE(writtenScreen.find("\r\x1b[K[########################] 100%"), std::string::npos) << writtenScreen;
}

// For other front ends: every stdout line of --json is one JSON event, the last
// one the result (read here by Python's own JSON parser).
TEST_F(OfstoolFlash, JsonLinesEndWithTheResult) {
  BuildImage();
  const std::string check =
      "python3 -c 'import json, sys\n"
      "events = [json.loads(line) for line in sys.stdin]\n"
      "kinds = {e[\"event\"] for e in events}\n"
      "assert kinds <= {\"line\", \"progress\", \"question\", \"box\", \"result\"}, kinds\n"
      "assert all(e[\"max\"] == 65536 for e in events if e[\"event\"] == \"progress\")\n"
      "r = events[-1]\n"
      "print(r[\"event\"], r[\"exit\"], r[\"drive_touched\"], r[\"text\"], \"progress\" in kinds, sep=\"|\")'";
  const std::string flash = "OFSFLASH_SIMULATE=fast " + Tool("ofstool") + " flash --json --yes ";
  const RunResult done = Run(flash + "--drive 0 " + Path("a.ofs") + " </dev/null | " + check);
  EXPECT_EQ(done.out, "result|0|True|done|True\n") << done.err;
  const RunResult refused = Run(flash + "--drive 1 " + Path("a.ofs") + " </dev/null | " + check);
  // What was refused, not a confirmation nobody was asked for: --yes was given.
  EXPECT_EQ(refused.out, "result|2|False|ofstool: not written: --yes does not answer the warning above; add --force "
                         "to write it anyway. Nothing was written to the drive.|False\n")
      << refused.err;
  // One block reached the drive before it refused the rest: touched.
  std::ofstream(Path("drive.profile"))
      << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
      << "fail = write_buffer at 2 times always sense 05/24/00\n";
  const RunResult once = Run("OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool") +
                             " flash --json --yes " + Path("a.ofs") + " </dev/null | " + check);
  EXPECT_EQ(once.out.substr(0, 20), "result|3|True|ofstoo") << once.out << once.err;
}

// The firmware a drive held before a flash comes back byte for byte from the backup
// taken by that flash, across separate runs (the drive keeps its flash in a file).
TEST_F(OfstoolFlash, TheBackupOfAFlashRollsTheDriveBack) {
  for (const auto& [name, revision, seed] : {std::tuple{"A.ofs", "1.00", "1"}, std::tuple{"B.ofs", "1.02", "2"}}) {
    const RunResult built = Run(Tool("mkofs") + " -o " + Path(name) + " --banks 2 --atapi-type 6 --template 0x100" +
                                " --product KZR-3350P2 --hwid A1 --revision " + revision + " --seed " + seed);
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }
  setenv("XDG_RUNTIME_DIR", Path("").c_str(), 1);
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nfirmware = A.ofs\nflash_file = flash.bin\n";
  const std::string ofstool = "OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool");
  EXPECT_NE(Run(ofstool + " drives").out.find("KZR-3350P2       1.00"), std::string::npos);
  const std::string onA = ReadText(Path("flash.bin"));
  ASSERT_EQ(onA.size(), 2u << 20);

  const RunResult forward =
      Run(ofstool + " flash --yes --backup " + Path("a.ofs") + " " + Path("B.ofs") + " </dev/null");
  ASSERT_EQ(forward.exitCode, 0) << forward.err;
  EXPECT_NE(Run(ofstool + " drives").out.find("KZR-3350P2       1.02"), std::string::npos);
  const RunResult info = Run(Tool("ofstool") + " info " + Path("a.ofs"));
  EXPECT_NE(info.out.find("Firmware version:    \"1.00\""), std::string::npos) << info.out << info.err;

  const RunResult back = Run(ofstool + " flash --yes " + Path("a.ofs") + " </dev/null");
  ASSERT_EQ(back.exitCode, 0) << back.err;
  EXPECT_NE(Run(ofstool + " drives").out.find("KZR-3350P2       1.00"), std::string::npos);
  EXPECT_TRUE(ReadText(Path("flash.bin")) == onA) << "the whole flash is A's again";
}

// Past a bank's length the container holds nothing, whatever the drive's flash holds
// there; the header checksum is that of the image the container parses to. (A flash of 0xFF
// bytes tells no model: the backup is forced.)
TEST_F(OfstoolFlash, ABackupOverShortBanksCarriesTheChecksumOfItsImage) {
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("short.ofs") +
                              " --banks 2 --bank-sizes 0x10000,0x8000 --atapi-type 6 --template 0x100");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  WriteBytes(Path("flash.img"), std::vector<uint8_t>(0x20000, 0xFF));
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nfirmware = flash.img\n";
  const RunResult saved = Run("OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool") +
                              " backup --drive 0 --force --like " + Path("short.ofs") + " " + Path("out.ofs"));
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  const RunResult info = Run(Tool("ofstool") + " info " + Path("out.ofs"));
  EXPECT_NE(info.out.find("Bank 1              0x8000 bytes\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Header checksum:     8000\n"), std::string::npos) << info.out;
  EXPECT_EQ(info.out.find("WARNING"), std::string::npos) << info.out;
  // Each bank as long as the image says, not its slot: the same size as the image itself.
  EXPECT_EQ(std::filesystem::file_size(Path("out.ofs")), std::filesystem::file_size(Path("short.ofs")));
}

// No backup, no write and no file: a drive that refuses ReadRomData or fails halfway
// through the read, and a backup that would replace a file.
TEST_F(OfstoolFlash, WithoutABackupNothingIsWrittenAndNoFileIsLeft) {
  BuildImage();
  struct Case {
    const char* drive;
    const char* command;
    bool existing;  // old.ofs is there before
    const char* said;
  };
  const Case cases[] = {
      {"fail = read_rom times always\n", " flash --yes --backup old.ofs a.ofs", false,
       "drive 0 does not answer ReadRomData"},
      {"fail = read_rom at 300 times always\n", " backup --like a.ofs old.ofs", false,
       "drive 0 does not answer ReadRomData"},
      {"", " flash --yes --backup old.ofs a.ofs", true, "already exists, and a backup never replaces a file"},
  };
  for (const Case& c : cases) {
    std::ofstream(Path("drive.profile"))
        << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nflash_file = flash.bin\n" << c.drive;
    const std::string ofstool = "OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool");
    std::remove(Path("flash.bin").c_str());
    std::remove(Path("old.ofs").c_str());
    if (c.existing) std::ofstream(Path("old.ofs")) << "an earlier backup";
    ASSERT_EQ(Run(ofstool + " drives").exitCode, 0);
    const std::string before = ReadText(Path("flash.bin"));
    const RunResult run = Run("cd " + Path("") + " && " + ofstool + c.command + " </dev/null");
    EXPECT_EQ(run.exitCode, 1) << c.command << run.err;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.command << run.err;
    EXPECT_EQ(ReadText(Path("old.ofs")), c.existing ? "an earlier backup" : "") << c.command;
    EXPECT_EQ(std::ifstream(Path("old.ofs")).good(), c.existing) << c.command;
    EXPECT_TRUE(ReadText(Path("flash.bin")) == before) << c.command << ": the drive was written";
  }
}

// A backup reads over the image's layout and flash type: over another model's, or for a
// drive that tells no model, only when forced, the rule of flash.
TEST_F(OfstoolFlash, ABackupOverAnotherModelsLayoutNeedsForce) {
  BuildImage();
  WriteBytes(Path("blank.img"), std::vector<uint8_t>(0x20000, 0));
  std::ofstream(Path("drives.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                        << "[drive]\nproduct = KZW-5520\nhardware_id = B2\n"
                                        << "[drive]\nfirmware = blank.img\n";
  struct Case {
    const char* options;
    int exitCode;
    const char* said;
  };
  const Case cases[] = {
      {"--drive 0", 0, "Saved the firmware of drive 0"},
      {"--drive 1", 2, "WARNING: this image is for ORVA KZR-3350P2 (hardware ID A1), the drive is ORVA KZW-5520 "
                       "(hardware ID B2)\nofstool: not saved: the drive would be read over the layout and flash type"},
      {"--drive 2", 2, "drive 2 does not tell its model"},
      {"--drive 1 --force", 0, "Saved the firmware of drive 1"},
  };
  for (const Case& c : cases) {
    std::remove(Path("out.ofs").c_str());
    const RunResult run = Run("OFSFLASH_SIMULATE=" + Path("drives.profile") + " " + Tool("ofstool") + " backup " +
                              c.options + " --like " + Path("a.ofs") + " " + Path("out.ofs"));
    EXPECT_EQ(run.exitCode, c.exitCode) << c.options << run.err;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << c.options << run.out << run.err;
    EXPECT_EQ(std::ifstream(Path("out.ofs")).good(), c.exitCode == 0) << c.options;
  }
}

// A drive whose flash lost its identity is one drive left out, not the end of discovery;
// named and forced it is written, and its flash then holds the image.
TEST_F(OfstoolFlash, ADriveWithoutIdentityIsLeftOutAndCanBeForced) {
  BuildImage();
  WriteBytes(Path("blank.img"), std::vector<uint8_t>(0x20000, 0));
  std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nfirmware = blank.img\nflash_file = flash0.bin\n"
                                       << "[drive]\nproduct = KZR-3350P2\nhardware_id = A1\nrevision = 1.00\n";
  const std::string ofstool = "OFSFLASH_SIMULATE=" + Path("drive.profile") + " " + Tool("ofstool");

  const RunResult other = Run(ofstool + " flash --yes " + Path("a.ofs") + " </dev/null");
  ASSERT_EQ(other.exitCode, 0) << other.err;
  EXPECT_NE(other.out.find("Drive 0 (no identity) sim:0"), std::string::npos) << other.out;
  EXPECT_NE(other.out.find("Drive 1 (sim:1)"), std::string::npos) << other.out;
  // Named but not forced, it is refused for what it is, the way on included, and left as it was.
  const std::string blank = ReadText(Path("flash0.bin"));
  for (const char* options : {"--yes --drive 0", "--drive 0", "--dry-run --yes --drive 0"}) {
    const RunResult named = Run(ofstool + " flash " + options + " " + Path("a.ofs") + " </dev/null");
    EXPECT_EQ(named.exitCode, 2) << options;
    EXPECT_EQ(named.err, "ofstool: not written: drive 0 does not tell its model, so nothing can check that this image "
                         "fits it; add --force to write it anyway. Nothing was written to the drive.\n")
        << options;
    EXPECT_TRUE(ReadText(Path("flash0.bin")) == blank) << options;
  }

  const RunResult forced = Run(ofstool + " flash --yes --force --drive 0 " + Path("a.ofs") + " </dev/null");
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_NE(forced.out.find("drive 0 does not tell its model, so nothing can check that this image fits it"),
            std::string::npos)
      << forced.out;
  const std::string container = ReadText(Path("a.ofs"));
  const auto* bytes = reinterpret_cast<const uint8_t*>(container.data());
  std::vector<uint8_t> flat(GetFirmwareImageSize(bytes, container.size()));
  SOFSParameter parameter;
  ASSERT_TRUE(ParseFirmwareImage(bytes, container.size(), parameter, flat.data(), flat.size()));
  const std::string flash = ReadText(Path("flash0.bin"));
  ASSERT_GE(flash.size(), flat.size());
  EXPECT_TRUE(std::equal(flat.begin(), flat.end(), reinterpret_cast<const uint8_t*>(flash.data())));
}

}  // namespace
}  // namespace ofs
