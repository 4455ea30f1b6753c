// ofstool flash on a terminal whose stdout or stderr goes to a file: the person at
// the terminal still sees what a question is about, and how the flash goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class OfstoolTerminal : public test::ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    // For the first demo drive; the second is another model with newer firmware.
    const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") + " --banks 2 --atapi-type 6 --template 0x100" +
                                " --product KZR-3350P2 --revision 1.02 --hwid A1");
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }

  std::pair<int, std::string> Flash(const std::vector<std::string>& options, const std::string& typed,
                                    test::TerminalSetup setup) const {
    std::vector<std::string> argv{Tool("ofstool"), "flash"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(Path("a.ofs"));
    setup.environment.push_back("OFSFLASH_SIMULATE=fast");
    setup.environment.push_back("XDG_RUNTIME_DIR=" + Path(""));
    return RunOnTerminal(argv, typed, setup);
  }
};

// Where `texts` are not all found in this order, the first one missing.
std::string MissingInOrder(const std::string& screen, const std::vector<std::string>& texts) {
  std::size_t at = 0;
  for (const std::string& text : texts) {
    at = screen.find(text, at);
    if (at == std::string::npos) return text;
    at += text.size();
  }
  return {};
}

TEST_F(OfstoolTerminal, AQuestionShowsWhatItIsAboutWhereverTheOutputGoes) {
  struct Case {
    std::vector<std::string> options;
    const char* typed;
    bool stdoutToFile, stderrToFile;
    int exitCode;
    std::vector<std::string> screen;  // in this order
  };
  const Case cases[] = {
      {{"--drive", "1"}, "n\n", true, false, 2,
       {"Drive 1 (sim:1): ORVA    KZW-5520", "Image: ", "WARNING: this image is for ORVA KZR-3350P2 (hardware ID A1)",
        "Write this firmware to drive 1? [y/N] "}},
      // The update's own question, with stderr in a file too.
      {{"--drive", "1"}, "y\nc\n", true, true, 1,
       {"WARNING: this image is for", "Write this firmware to drive 1? [y/N] ",
        "Warning!: 2.10 is newer than 1.02 !! Update the drive ?", "[OK/Cancel]? "}},
      // Nothing asked: the notice and the progress still show.
      {{"--yes", "--drive", "0"}, "", true, false, 0,
       {"Do not restart or shutdown your system", "Flashing is processing...", "] 100%", "All Completed!"}},
  };
  for (const Case& c : cases) {
    test::TerminalSetup setup;
    if (c.stdoutToFile) setup.stdoutPath = Path("out.txt");
    if (c.stderrToFile) setup.stderrPath = Path("err.txt");
    const auto [code, screen] = Flash(c.options, c.typed, setup);
    EXPECT_EQ(code, c.exitCode) << c.options[0] << screen;
    EXPECT_EQ(MissingInOrder(screen, c.screen), "") << c.options[0] << screen;
    // The file keeps its copy, with no terminal controls in it.
    const std::string log = ReadText(Path("out.txt"));
    EXPECT_NE(log.find(c.exitCode == 0 ? "All Completed!\n" : "Image: "), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace ofs
