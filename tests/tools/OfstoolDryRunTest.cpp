// ofstool flash --dry-run says and refuses what the same command without it does.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolDryRun : public test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // a.ofs is for the first demo drive; bad.ofs too, with a header checksum its image does not have.
    for (const char* extra : {"", " --checksum 0x1234"}) {
      const std::string name = *extra == '\0' ? "a.ofs" : "bad.ofs";
      const RunResult built = Run(Tool("mkofs") + " -o " + Path(name) + " --banks 2 --atapi-type 6 --template 0x100" +
                                  " --product KZR-3350P2 --revision 1.02 --hwid A1" + extra);
      ASSERT_EQ(built.exitCode, 0) << built.err;
    }
  }

  RunResult Flash(const std::string& options) const {
    return Run("cd " + Path("") + " && XDG_RUNTIME_DIR=" + Path("") + " OFSFLASH_SIMULATE=fast OFSFLASH_TRACE=" + Path("trace.txt") + " " +
               Tool("ofstool") + " flash " + options + " </dev/null");
  }
};

// The warnings, the questions and the refusals of a run up to its first write.
std::string WhatWasSaid(const RunResult& run) {
  std::istringstream lines(run.out + run.err);
  std::string said;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("WARNING:", 0) == 0 || line.rfind("Warning!", 0) == 0 || line.rfind("ofstool: not", 0) == 0) {
      said += line + "\n";
    }
  }
  return said;
}

TEST_F(OfstoolDryRun, RehearsesTheRealRun) {
  struct Case {
    const char* options;
    int exitCode;
  };
  const Case cases[] = {
      {"--yes --drive 0 a.ofs", 0},
      {"--yes --drive 1 a.ofs", 2},            // another model
      {"--yes --drive 0 bad.ofs", 2},          // a damaged image
      {"--yes --force --drive 1 a.ofs", 0},    // the drive's firmware is newer: asked and answered
      {"--yes --force --no --drive 1 a.ofs", 1},
      {"--drive 0 a.ofs", 2},                  // no terminal to ask on
  };
  for (const Case& c : cases) {
    std::remove(Path("trace.txt").c_str());
    const RunResult dry = Flash(std::string("--dry-run ") + c.options);
    const std::string sent = ReadText(Path("trace.txt"));
    const RunResult real = Flash(c.options);
    EXPECT_EQ(real.exitCode, c.exitCode) << c.options << real.err;
    EXPECT_EQ(dry.exitCode, real.exitCode) << c.options << dry.out << dry.err;
    EXPECT_EQ(WhatWasSaid(dry), WhatWasSaid(real)) << c.options;
    EXPECT_EQ(dry.out.find("Dry run: would flash") != std::string::npos, c.exitCode == 0) << c.options << dry.out;
    for (const char* write : {"\n0 3b", "\n1 3b"}) EXPECT_EQ(sent.find(write), std::string::npos) << c.options;
  }
}

}  // namespace
}  // namespace ofs
