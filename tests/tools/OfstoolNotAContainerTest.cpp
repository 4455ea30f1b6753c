// ofstool flash of a file that is no firmware container blames the file, with the
// reason ofstool info gives for it, on the terminal and in the JSON result.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolNotAContainer : public test::ToolTest {};

std::string LastLine(const std::string& text) {
  const std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
  return trimmed.substr(trimmed.rfind('\n') + 1);
}

TEST_F(OfstoolNotAContainer, FlashGivesTheReasonInfoGives) {
  const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --banks 2 --atapi-type 6 --template 0x100" +
                              " --product KZR-3350P2 --hwid A1");
  ASSERT_EQ(built.exitCode, 0) << built.err;
  const std::string whole = ReadText(Path("a.ofs"));
  WriteBytes(Path("truncated.ofs"), std::vector<uint8_t>(whole.begin(), whole.begin() + 3000));
  std::vector<uint8_t> noise(5000);
  uint32_t state = 12345;
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  WriteBytes(Path("random.bin"), noise);

  for (const char* name : {"truncated.ofs", "random.bin"}) {
    const std::string file = Path(name);
    const RunResult info = Run(Tool("ofstool") + " info " + file);
    const std::string prefix = "ofstool: " + file + ": ";
    ASSERT_EQ(LastLine(info.err).rfind(prefix, 0), 0u) << info.err;
    const std::string blame = LastLine(info.err) + "; nothing was written.";

    const std::string flash = "XDG_RUNTIME_DIR=" + Path("") + " OFSFLASH_SIMULATE=fast " + Tool("ofstool") + " flash ";
    for (const char* options : {"--yes ", "--all --yes "}) {
      const RunResult run = Run(flash + options + file + " </dev/null");
      EXPECT_EQ(run.exitCode, 1) << options << name;
      EXPECT_NE(run.err.find("Error: Not Valid OFS !\n"), std::string::npos) << options << run.err;
      EXPECT_EQ(LastLine(run.err), blame) << options << name;
    }
    const std::string text = "python3 -c 'import json, sys; print(json.loads(sys.stdin.readlines()[-1])[\"text\"])'";
    const RunResult json = Run(flash + "--json --yes " + file + " </dev/null | " + text);
    EXPECT_EQ(json.out, blame + "\n") << json.err;
  }
}

}  // namespace
}  // namespace ofs
