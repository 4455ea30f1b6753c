// A file named with control bytes (a terminal title, a screen clear, a line break) is
// shown blanked wherever ofstool prints it for a person; its JSON keeps it exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

constexpr char kHostileName[] = "fw\x1b]0;owned\x07\x1b[2J\nline2.ofs";
constexpr char kShownName[] = "fw ]0;owned  [2J line2.ofs";

class ShownNames : public test::ToolTest {};

bool HasControlBytes(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\n') || byte == 0x7F;
  });
}

TEST_F(ShownNames, ControlBytesOfAFileNameAreBlankedForPeopleAndKeptInJson) {
  BuildImage();
  std::filesystem::copy_file(Path("a.ofs"), Path(kHostileName));
  std::ofstream(Path("drives.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n";
  std::ofstream(Path("no-container\n.ofs")) << "not a container\n";
  const std::string file = "'" + Path(kHostileName) + "'";
  const std::string flash = "OFSFLASH_SIMULATE=" + Path("drives.profile") + " " + Tool("ofstool") + " flash --yes ";

  struct Row {
    const char* what;
    std::string command;
    bool onStderr;
    std::string expected;
  };
  const Row rows[] = {
      {"flash's Image: line", flash + file + " </dev/null", false, "Image: " + Path(kShownName) + ": "},
      {"history's line", Tool("ofstool") + " history", false, "  sim:0  " + Path(kShownName) + " (checksum "},
      {"history as JSON", Tool("ofstool") + " history --json", false,
       R"(/fw\u001b]0;owned\u0007\u001b[2J\nline2.ofs")"},
      {"info of a file that is no container", Tool("ofstool") + " info '" + Path("no-container\n.ofs") + "'", true,
       "ofstool: " + Path("no-container .ofs") + ": "},
      {"params of a missing file", Tool("ofstool") + " params '" + Path("missing\x1b[2J") + "'", true,
       "cannot read " + Path("missing [2J") + ": "},
  };
  for (const Row& row : rows) {
    const RunResult run = Run(row.command);
    const std::string& shown = row.onStderr ? run.err : run.out;
    EXPECT_NE(shown.find(row.expected), std::string::npos) << row.what << ":\n" << shown;
    EXPECT_FALSE(HasControlBytes(run.out) || HasControlBytes(run.err)) << row.what << ":\n" << run.out << run.err;
  }
}

}  // namespace
}  // namespace ofs
