// Inputs that are not regular files: each tool says what the path is and ends at once.
// Every run has a time limit, so a tool that waits on the fifo fails the test instead of hanging it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class SpecialFileInput : public test::ToolTest {};

TEST_F(SpecialFileInput, AFifoIsRefusedAtOnceWithWhatItIs) {
  const std::string fifo = Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string commands[] = {
      Tool("ofstool") + " params " + fifo,
      Tool("mkofs") + " -o " + Path("x.ofs") + " --flat " + fifo,
      "OFSFLASH_SIMULATE=" + fifo + " " + Tool("ofstool") + " drives",
      "OFSFLASH_SIMULATE=fast OFSFLASH_TRACE=" + fifo + " " + Tool("ofstool") + " drives",
  };
  for (const std::string& command : commands) {
    const RunResult run = Run("timeout 10 env " + command);
    EXPECT_EQ(run.exitCode, 1) << command;
    EXPECT_NE(run.err.find(fifo), std::string::npos) << command << ": " << run.err;
    EXPECT_NE(run.err.find("is a fifo, not a regular file"), std::string::npos) << command << ": " << run.err;
  }
}

TEST_F(SpecialFileInput, ParamsOfAFileWithoutASectionSaysSoAndListsTheDefaults) {
  ASSERT_EQ(Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --banks 1").exitCode, 0);
  std::ofstream(Path("empty"));
  std::ofstream(Path("title.ini"), std::ios::binary) << "[Title]\r\nt1";
  const std::pair<const char*, bool> cases[] = {{"a.ofs", true}, {"empty", true}, {"title.ini", false}};
  for (const auto& [name, noSection] : cases) {
    const RunResult run = Run(Tool("ofstool") + " params " + Path(name));
    EXPECT_EQ(run.exitCode, 0) << name;
    EXPECT_NE(run.out.find("ProgramName = \"Orva Flash OFS3 Utility\""), std::string::npos) << name;
    EXPECT_EQ(run.err, noSection ? "ofstool params: " + Path(name) +
                                       " holds no parameter section; the values shown are the defaults\n"
                                 : "")
        << name;
  }
}

}  // namespace
}  // namespace ofs
