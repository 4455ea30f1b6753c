// ofstool's bash completion, run by bash as a shell without extglob runs it, among
// file names that hold blanks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

class Completion : public test::ToolTest {};

TEST_F(Completion, OffersWholeFileNamesWithoutExtglob) {
  std::filesystem::create_directories(Path("files/sub dir"));  // the run's own files lie outside
  for (const char* file : {"a b.ofs", "c.Ofs", "z.zip", "notes.txt"}) std::ofstream(Path("files/") + file) << "x";
  const std::pair<const char*, const char*> cases[] = {
      {"flash \"\"", "[a b.ofs][c.Ofs][sub dir][z.zip]"},
      {"flash --backup a", "[a b.ofs]"},
      {"verify \"\"", "[a b.ofs][c.Ofs][sub dir][z.zip]"},
      {"info \"\"", "[--help][--json][a b.ofs][c.Ofs][notes.txt][sub dir][z.zip]"},
      {"backup --like s", "[sub dir]"},
      {"flash --ba", "[--backup]"},
  };
  for (const auto& [words, offered] : cases) {
    const test::RunResult run =
        Run("cd " + Path("files") + " && bash -c 'shopt -u extglob; . \"$0\"; COMP_WORDS=(ofstool " + words +
            "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ofstool; "
            "printf \"[%s]\\n\" \"${COMPREPLY[@]}\" | LC_ALL=C sort | tr -d \"\\n\"' '" OFS_COMPLETION_SCRIPT "'");
    EXPECT_EQ(run.out, offered) << words << ": " << run.err;
  }
}

}  // namespace
}  // namespace ofs
