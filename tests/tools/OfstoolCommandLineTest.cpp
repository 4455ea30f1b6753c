// ofstool's conventions (and mkofs's and ofsmerge's): help on stdout with exit 0, a version, usage errors that
// name what was wrong, and texts that say why nothing is listed or chosen.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolCommandLine : public test::ToolTest {};

TEST_F(OfstoolCommandLine, HelpVersionAndUsageErrors) {
  struct Case {
    const char* arguments;
    int exitCode;
    const char* out;  // expected in stdout
    const char* err;  // expected in stderr
  };
  const Case cases[] = {
      {"--help", 0, "usage: ofstool COMMAND", ""},
      {"-h", 0, "ofstool flash [--drive N]", ""},
      {"params -h", 0, "usage: ofstool params", ""},
      {"drives --help", 0, "usage: ofstool drives", ""},
      {"info --help", 0, "usage: ofstool info", ""},
      {"flash --help", 0, "Exit codes:", ""},
      {"", 2, "", "ofstool: a command is needed"},
      {"bogus", 2, "", "ofstool: unknown command 'bogus'"},
      {"flash --bogus", 2, "", "unknown option --bogus"},
      {"flash --all --dry-run", 2, "", "--all goes without --drive, --dry-run and --backup"},
      {"info --bogus x.ofs", 2, "", "ofstool: info: unknown option --bogus"},
      {"params --jsn", 2, "", "ofstool: params: unknown option --jsn"},
  };
  for (const Case& c : cases) {
    const RunResult run = Run(Tool("ofstool") + " " + c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << c.arguments << ": " << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << ": " << run.err;
  }
  // The other tools keep the same conventions; mkofs's --version is the container's, so its own is --tool-version.
  const std::pair<const char*, const char*> versions[] = {
      {"ofstool", "--version"}, {"mkofs", "--tool-version"}, {"ofsmerge", "--version"}};
  for (const auto& [tool, option] : versions) {
    const RunResult version = Run(Tool(tool) + " " + option);
    EXPECT_EQ(version.exitCode, 0) << tool;
    EXPECT_TRUE(std::regex_match(version.out, std::regex(std::string(tool) + " [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;
  }
  const RunResult mergeHelp = Run(Tool("ofsmerge") + " --help");
  EXPECT_EQ(mergeHelp.exitCode, 0);
  EXPECT_NE(mergeHelp.out.find("usage: ofsmerge IN OUT"), std::string::npos) << mergeHelp.out;
  EXPECT_NE(mergeHelp.out.find("Updater=1"), std::string::npos) << mergeHelp.out;
}

TEST_F(OfstoolCommandLine, AMissingDriveListsTheDrivesThatExist) {
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") +
                              " --banks 2 --atapi-type 6 --template 0x100 --product KZR-3350P2 --hwid A1");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  const RunResult missing = Run("XDG_RUNTIME_DIR=" + Path("") + " OFSFLASH_SIMULATE=fast " + Tool("ofstool") +
                                " flash --yes --drive 5 " + Path("a.ofs"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("There is no drive 5. The drives are:\n  0  sim:0\n  1  sim:1\n"), std::string::npos)
      << missing.err;
}

TEST_F(OfstoolCommandLine, DrivesAsJson) {
  const RunResult run = Run("OFSFLASH_SIMULATE=fast " + Tool("ofstool") + " drives --json");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "[{\"index\":0,\"node\":\"sim:0\",\"vendor\":\"ORVA\",\"product\":\"KZR-3350P2\",\"revision\":\"1.00\","
            "\"identity\":\"ORVA    KZR-3350P2       1.00 061201\",\"flashable\":true,\"transport\":\"sim\"},"
            "{\"index\":1,\"node\":\"sim:1\",\"vendor\":\"ORVA\",\"product\":\"KZW-5520\",\"revision\":\"2.10\","
            "\"identity\":\"ORVA    KZW-5520         2.10 050930\",\"flashable\":true,\"transport\":\"sim\"}]\n");
  std::ofstream(Path("none.profile")) << "clock = virtual\n";
  const RunResult none = Run("OFSFLASH_SIMULATE=" + Path("none.profile") + " " + Tool("ofstool") + " drives --json");
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.out, "[]\n");
}

// An identity with zeros or control bytes is shown with blanks in their place, whole, in
// every output: the JSON listing, the text listing and the backup's closing line.
TEST_F(OfstoolCommandLine, IdentitiesAreShownPrintable) {
  std::vector<uint8_t> odd(0x20000, 0);
  const std::string inquiry = std::string("\x05\x80\x00\x32\x1f\x00\x00\x00", 8) + "OR\x1bVA   KZR\x07" +
                              std::string(12, ' ') + "1.\x7f" "0  A10612\x01" "1";
  std::copy(inquiry.begin(), inquiry.end(), odd.begin() + 0x200);
  WriteBytes(Path("odd.img"), odd);
  WriteBytes(Path("blank.img"), std::vector<uint8_t>(0x20000, 0));
  std::ofstream(Path("drives.profile")) << "clock = virtual\n[drive]\nfirmware = blank.img\n[drive]\nfirmware = odd.img\n";
  const std::string ofstool = "OFSFLASH_SIMULATE=" + Path("drives.profile") + " " + Tool("ofstool");
  const RunResult json = Run(ofstool + " drives --json");
  EXPECT_EQ(json.out,
            "[{\"index\":0,\"node\":\"sim:0\",\"vendor\":\"\",\"product\":\"\",\"revision\":\"\","
            "\"identity\":\"(no identity)\",\"flashable\":true,\"transport\":\"sim\"},"
            "{\"index\":1,\"node\":\"sim:1\",\"vendor\":\"OR VA\",\"product\":\"KZR\",\"revision\":\"1. 0\","
            "\"identity\":\"OR VA   KZR              1. 0 0612 1\",\"flashable\":true,\"transport\":\"sim\"}]\n");
  EXPECT_EQ(Run(ofstool + " drives").out, "0\tsim:0\t(no identity)\n1\tsim:1\tOR VA   KZR              1. 0 0612 1\n");
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --banks 2").exitCode, 0);
  const RunResult backup = Run(ofstool + " backup --force --drive 0 --like " + Path("a.ofs") + " " + Path("old.ofs"));
  EXPECT_NE(backup.out.find("Saved the firmware of drive 0 ( ) to " + Path("old.ofs") + "; 'ofstool flash"),
            std::string::npos)
      << backup.out << backup.err;
}

// "--" ends the options of every command: a file whose name starts with '-' is read.
TEST_F(OfstoolCommandLine, DoubleDashEndsTheOptions) {
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("-a.ofs") + " --banks 2 --atapi-type 6 --template 0x100 --product KZR-3350P2 --hwid A1").exitCode, 0);
  const std::pair<const char*, int> cases[] = {
      {"info -- -a.ofs", 0},
      {"params --json -- -a.ofs", 0},
      {"flash --yes --dry-run -- -a.ofs", 0},
      {"backup --drive 0 --like -a.ofs -- -old.ofs", 0},
      {"info -- --help", 1},
      {"drives -- --json", 2},
  };
  for (const auto& [arguments, exitCode] : cases) {
    const RunResult run = Run("cd " + Path("") + " && XDG_RUNTIME_DIR=" + Path("") + " OFSFLASH_SIMULATE=fast " +
                              Tool("ofstool") + " " + arguments + " </dev/null");
    EXPECT_EQ(run.exitCode, exitCode) << arguments << ": " << run.out << run.err;
  }
  EXPECT_TRUE(std::filesystem::exists(Path("-old.ofs")));
}

// A file that cannot be firmware is named with the reason a person can act on.
TEST_F(OfstoolCommandLine, SaysWhatIsWrongWithAFile) {
  std::filesystem::create_directory(Path("folder"));
  std::ofstream(Path("empty"));
  std::ofstream(Path("huge"));
  std::filesystem::resize_file(Path("huge"), 70u << 20);  // sparse: nothing is written
  std::ofstream(Path("nothing.zip"), std::ios::binary) << std::string("PK\x05\x06", 4) << std::string(18, '\0');
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --banks 1");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  const RunResult zipped = Run(Tool("samples/mkzip") + " " + Path("two.zip") + " " + Path("a.ofs") + " " + Path("a.ofs"));
  ASSERT_EQ(zipped.exitCode, 0) << zipped.err;
  const std::pair<const char*, const char*> cases[] = {
      {"absent", "absent: no such file\n"},
      {"folder", "folder: is a directory\n"},
      {"empty", "empty: is empty\n"},
      {"huge", "huge: larger than any firmware container (73400320 bytes)\n"},
      {"nothing.zip", "nothing.zip: zip archive holds no member\n"},
      {"two.zip", "two.zip: zip archive holds 2 members; the last one is used\n"},
  };
  const RunResult bad = Run(Tool("mkofs") + " -o " + Path("bad.ofs") + " --banks 1 --checksum 0x1234");
  ASSERT_EQ(bad.exitCode, 0) << bad.err;
  const RunResult info = Run(Tool("ofstool") + " info " + Path("bad.ofs"));
  EXPECT_NE(info.out.find("disagrees with the header's 1234: the file may be damaged"), std::string::npos) << info.out;
  EXPECT_EQ(Run(Tool("ofstool") + " info " + Path("a.ofs")).out.find("WARNING"), std::string::npos);
  for (const auto& [file, said] : cases) {
    const RunResult info = Run(Tool("ofstool") + " info " + Path(file));
    EXPECT_EQ(info.exitCode, std::string(file) == "two.zip" ? 0 : 1) << file;
    EXPECT_NE(info.err.find(said), std::string::npos) << info.err;
  }
}

}  // namespace
}  // namespace ofs
