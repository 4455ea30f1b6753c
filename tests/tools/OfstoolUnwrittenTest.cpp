// ofstool flash ending before its first write: its last line says why, says once that
// nothing was written, and names what to change where the same command would only end
// the same way again.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolUnwritten : public test::ToolTest {};

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(OfstoolUnwritten, TheLastLineSaysWhyAndWhatToChange) {
  const std::string identity = " --template 0x100 --product KZR-3350P2 --revision 1.02 --hwid A1";
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("type1.ofs") + " --bank-sizes " +
                "0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000,0x8000 --atapi-type 1" + identity)
                .exitCode,
            0);
  // Three banks for a flash type that sends two.
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("type8.ofs") + " --banks 3 --atapi-type 8" + identity).exitCode, 0);
  // Past 16 MiB: only a drive that reports its checksum can verify it.
  std::string banks = "0xFFFE";
  for (int i = 1; i < 257; ++i) banks += ",0xFFFE";
  std::ofstream(Path("zeros.bin")) << std::string(257 * 65536, '\0');
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("large.ofs") + " --flat " + Path("zeros.bin") + " --bank-sizes " + banks +
                " --atapi-type 2" + identity)
                .exitCode,
            0);
  struct Case {
    const char* drive;  // the profile's drive besides its identity
    const char* options;  // besides --yes; --backup saves to backup.ofs
    const char* image;
    const char* said;  // in the last line
  };
  const Case cases[] = {
      {"raise = SIGINT at prevent_allow 1\n", "", "type1.ofs", "ofstool: stopped by SIGINT; nothing was written to drive 0"},
      {"medium = present\n", "", "type1.ofs",
       "ofstool: a disc is still in the tray of drive 0, and --yes cannot mend that: the run ended at the tray question; "
       "nothing was written to drive 0, which still holds the firmware it had. Take the disc out, then run the same "
       "command again."},
      {"", "", "type8.ofs",
       "nothing was written to drive 0, which still holds the firmware it had. The same command would be refused "
       "again: this image cannot be flashed as it is; give another image for this drive."},
      {"capabilities = none\n", "--verify", "large.ofs",
       "The same command would be refused again: add --no-verify to flash this image without verification."},
      // The backup is not read to its end, and not saved.
      {"raise = SIGTERM at read_rom 3\n", "--backup", "type1.ofs",
       "ofstool: no backup: stopped by SIGTERM while the drive's flash was read."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    std::ofstream(Path("drive.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                         << c.drive;
    const std::string backup = std::string(c.options) == "--backup" ? " " + Path("backup.ofs") : "";
    const RunResult run = Run("OFSFLASH_SIMULATE=" + Path("drive.profile") + " OFSFLASH_TRACE=" + Path("trace.txt") +
                              " " + Tool("ofstool") + " flash --yes " + c.options + backup + " " + Path(c.image) +
                              " </dev/null");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
    EXPECT_NE(last.find(c.said), std::string::npos) << run.out << run.err;
    EXPECT_EQ(CountOf(run.out + run.err, "othing was written"), 1u) << run.out << run.err;
    EXPECT_EQ(run.err.find("Mend the cause"), std::string::npos) << run.err;
    const std::string trace = ReadText(Path("trace.txt"));
    EXPECT_EQ(trace.find(" out "), std::string::npos) << trace;
    EXPECT_LT(CountOf(trace, " 5a00384f5211"), 4u) << "the flash went on being read";
    EXPECT_FALSE(std::ifstream(Path("backup.ofs")).good());
  }
}

}  // namespace
}  // namespace ofs
