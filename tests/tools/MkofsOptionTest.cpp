// mkofs refuses, as a usage error with nothing written, the containers its readers
// would refuse or that would leave out a template without a word.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class MkofsOptions : public test::ToolTest {};

TEST_F(MkofsOptions, ContainersWithoutImageOrWithACutTemplateAreUsageErrors) {
  struct Row {
    const char* options;
    int exitCode;
  };
  const Row rows[] = {
      {"--banks 0", 2},
      {"--slot 0 --banks 1", 2},
      {"--format legacy --banks 0", 2},
      {"--banks 1 --template 0x10000", 2},
      {"--banks 1 --template 0xFFD3", 2},              // its last byte would lie past the image
      {"--banks 1 --template 0xFFD2", 0},              // ends with the image
      {"--banks 1 --template 11 --dc-ext ABCDEF", 2},  // "DC" would start before the image
      {"--banks 1 --template 12 --dc-ext ABCDEF", 0},
  };
  for (const Row& row : rows) {
    const std::string out = Path("out.ofs");
    const RunResult run = Run(Tool("mkofs") + " -o " + out + " " + row.options);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.options << ": " << run.err;
    EXPECT_EQ(std::filesystem::exists(out), row.exitCode == 0) << row.options;
    if (row.exitCode == 0) {
      const RunResult info = Run(Tool("ofstool") + " info " + out);
      EXPECT_EQ(info.exitCode, 0) << row.options << ": " << info.err;
    }
    std::filesystem::remove(out);
  }
}

}  // namespace
}  // namespace ofs
