// ofstool verify: whether a drive holds an image, found without a command that writes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolVerify : public test::ToolTest {};

// A traced command that sends data, saves a download (WRITE BUFFER) or locks the tray.
std::string FirstWritingCommand(const std::string& trace) {
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string drive, cdb, direction;
    fields >> drive >> cdb >> direction;
    if (drive == "#") continue;
    if (direction == "out" || cdb.rfind("3b", 0) == 0 || cdb.rfind("1e", 0) == 0) return line;
  }
  return {};
}

// Drive 0 reports its checksum (leaving the reserved block out, as the image's does),
// drive 1 is read back, drive 2 stops answering the read, drive 3 tells no model, drive 4
// is told to stop while it is read.
TEST_F(OfstoolVerify, SaysWhetherTheDriveHoldsTheImageAndWritesNothing) {
  // Flash type 1 keeps no checksum of its own in the image; one reserved block at 8000h.
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --bank-sizes 0x8000,0x8000 --atapi-type 1" +
                              " --template 0x100 --product KZR-3350P2 --hwid A1 --reserved 0x8000:0x100");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  setenv("XDG_RUNTIME_DIR", Path("").c_str(), 1);
  WriteBytes(Path("blank.img"), std::vector<uint8_t>(0x20000, 0));
  std::ofstream(Path("drives.profile")) << "clock = virtual\n"
                                        << "[drive]\nfirmware = a.ofs\nflash_file = flash0.bin\ncapabilities = 11\n"
                                        << "[drive]\nfirmware = a.ofs\nflash_file = flash1.bin\n"
                                        << "[drive]\nfirmware = a.ofs\nfail = read_rom at 3 times always\n"
                                        << "[drive]\nfirmware = blank.img\n"
                                        << "[drive]\nfirmware = a.ofs\nraise = SIGINT at read_rom 3\n";
  const std::string verify = "OFSFLASH_SIMULATE=" + Path("drives.profile") + " OFSFLASH_TRACE=" + Path("trace.txt") +
                             " " + Tool("ofstool") + " verify ";
  ASSERT_EQ(Run(verify + Path("a.ofs")).exitCode, 0);  // the drives write their flash files
  const std::string held[] = {ReadText(Path("flash0.bin")), ReadText(Path("flash1.bin"))};
  ASSERT_EQ(held[0].size(), 2u << 20);

  struct Case {
    int drive;
    std::vector<uint32_t> changed;  // flash bytes inverted before the check
    int exitCode;
    std::string said;
  };
  const Case cases[] = {
      {0, {}, 0, "matches: drive 0 (sim:0) holds " + Path("a.ofs")},
      {1, {}, 0, "matches: drive 1 (sim:1) holds " + Path("a.ofs")},
      {0, {0x8010}, 0, "matches: drive 0"},
      {1, {0x8010, 0x80FF}, 0, "matches: drive 1"},
      {0, {0x1234}, 1, "differs: drive 0 (sim:0) reports checksum "},
      {1, {0x1234}, 1, "the first differing byte is at 0x1234, 1 byte differs"},
      {1, {0x9000, 0x8100, 0x1FFFF}, 1, "the first differing byte is at 0x8100, 3 bytes differ"},
      {2, {}, 1, "ofstool: could not check drive 2 (sim:2): it did not answer ReadRomData"},
      {3, {}, 1, "WARNING: drive 3 does not tell its model, so nothing can check that this image fits it\n"
                 "differs: drive 3 (sim:3) does not hold"},
      {4, {}, 1, "ofstool: stopped before the check was done; nothing was checked."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    if (c.drive < 2) {
      std::string flash = held[c.drive];
      for (uint32_t at : c.changed) flash[at] = static_cast<char>(~flash[at]);
      std::ofstream(Path("flash" + std::to_string(c.drive) + ".bin"), std::ios::binary) << flash;
    }
    std::remove(Path("trace.txt").c_str());
    const RunResult run = Run(verify + "--drive " + std::to_string(c.drive) + " " + Path("a.ofs"));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_NE((run.err + run.out).find(c.said), std::string::npos) << run.out << run.err;
    EXPECT_EQ(FirstWritingCommand(ReadText(Path("trace.txt"))), "");
    if (c.drive < 2) std::ofstream(Path("flash" + std::to_string(c.drive) + ".bin"), std::ios::binary) << held[c.drive];
  }
  // A checksum that differs names both; JSON carries the verdict and where.
  std::string changed = held[0];
  changed[0x1234] = static_cast<char>(~changed[0x1234]);
  std::ofstream(Path("flash0.bin"), std::ios::binary) << changed;
  const RunResult checksum = Run(verify + "--drive 0 " + Path("a.ofs"));
  const std::size_t reported = checksum.out.find("reports checksum ");
  const std::size_t expected = checksum.out.find(Path("a.ofs") + " has ");
  ASSERT_NE(reported, std::string::npos) << checksum.out;
  ASSERT_NE(expected, std::string::npos) << checksum.out;
  EXPECT_NE(checksum.out.substr(reported + 17, 4), checksum.out.substr(expected + Path("a.ofs").size() + 5, 4))
      << checksum.out;
  std::string flash = held[1];
  flash[0x1234] = 0;
  flash[0x1235] = 0;
  std::ofstream(Path("flash1.bin"), std::ios::binary) << flash;
  const RunResult json = Run(verify + "--json --drive 1 " + Path("a.ofs"));
  EXPECT_EQ(json.exitCode, 1);
  EXPECT_EQ(json.out.rfind("{\"matches\":false,\"exit\":1,\"drive\":1,\"checked\":true,\"method\":\"read-back\",", 0), 0u)
      << json.out;
  EXPECT_NE(json.out.find("\"first_difference\":4660,\"differing_bytes\":2,"), std::string::npos) << json.out;
}

// A kernel image leaves its own checksum out of the drive's: so does the same drive in
// the next process, which finds the flash written by this one.
TEST_F(OfstoolVerify, AKernelImageMatchesInTheNextProcess) {
  BuildImage();
  std::ofstream(Path("kernel.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                           "flash_file = flash.bin\ncapabilities = 11 13\n";
  const std::string drive = "OFSFLASH_SIMULATE=" + Path("kernel.profile") + " " + Tool("ofstool");
  ASSERT_EQ(Run(drive + " flash --yes --verify " + Path("a.ofs") + " </dev/null").exitCode, 0);
  const RunResult run = Run(drive + " verify " + Path("a.ofs"));
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
}

// Esc while the drive is waited for ends the check with verify's own exit code.
TEST_F(OfstoolVerify, EscWhileWaitingForTheDriveEndsWithNothingChecked) {
  BuildImage();
  std::ofstream(Path("busy.profile")) << "clock = virtual\n[drive]\nvendor = PIONEER\nproduct = KZR-3350P2\n"
                                         "hardware_id = A1\nnever_ready = yes\nmedium = present\n";
  const auto [code, screen] = RunOnTerminal({Tool("ofstool"), "verify", "--drive", "0", Path("a.ofs")}, "\x1b",
                                            {0, "", "", {"OFSFLASH_SIMULATE=" + Path("busy.profile")}});
  EXPECT_EQ(code, 1) << screen;
}

}  // namespace
}  // namespace ofs
