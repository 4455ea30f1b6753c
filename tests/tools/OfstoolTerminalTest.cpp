// ofstool flash on a terminal whose stdout or stderr goes to a file: the person at
// the terminal still sees what a question is about, and how the flash goes.
#include <gtest/gtest.h>

#include <fstream>
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
    setup.environment.insert(setup.environment.begin(), {"OFSFLASH_SIMULATE=fast", "XDG_RUNTIME_DIR=" + Path("")});
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
    std::vector<std::string> answers;
    bool stdoutToFile, stderrToFile;
    int exitCode;
    std::vector<std::string> screen;  // in this order
  };
  const Case cases[] = {
      {{"--drive", "1"}, {"n\n"}, true, false, 2,
       {"Drive 1 (sim:1): ORVA    KZW-5520", "Image: ", "WARNING: this image is for ORVA KZR-3350P2 (hardware ID A1)",
        "Write this firmware to drive 1? [y/N] "}},
      // The update's own question, with stderr in a file too.
      {{"--drive", "1"}, {"y\n", "c\n"}, true, true, 1,
       {"WARNING: this image is for", "Write this firmware to drive 1? [y/N] ",
        "Warning!: 2.10 is newer than 1.02 !! Update the drive ?", "[OK/Cancel]? "}},
      // Nothing asked: what is written, the notice and the progress still show, and so does
      // what --yes does not answer.
      {{"--yes", "--drive", "0"}, {}, true, false, 0,
       {"Do not restart or shutdown your system", "Drive 0 (sim:0): ORVA    KZR-3350P2", "Image: ",
        "Flashing is processing...", "] 100%", "All Completed!"}},
      {{"--yes", "--drive", "1"}, {}, true, false, 2,
       {"Drive 1 (sim:1): ORVA    KZW-5520", "Image: ", "WARNING: this image is for ORVA KZR-3350P2",
        "--yes does not answer the warning above"}},
      {{"--all", "--yes"}, {}, true, false, 0,
       {"Do not restart or shutdown your system", "drive 0 [", "] 100%", "[drive 0] All Completed!"}},
  };
  for (const Case& c : cases) {
    test::TerminalSetup setup;
    if (c.stdoutToFile) setup.stdoutPath = Path("out.txt");
    if (c.stderrToFile) setup.stderrPath = Path("err.txt");
    setup.answers = c.answers;
    const auto [code, screen] = Flash(c.options, "", setup);
    EXPECT_EQ(code, c.exitCode) << c.options[0] << screen;
    EXPECT_EQ(MissingInOrder(screen, c.screen), "") << c.options[0] << screen;
    // The file keeps its copy, with no terminal controls in it.
    const std::string log = ReadText(Path("out.txt"));
    EXPECT_NE(log.find(c.exitCode == 0 ? "All Completed!\n" : "Image: "), std::string::npos) << log;
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
  }
}

// What was typed before a question showed answers none that can start a write: a "y"
// typed while the drive was being identified, or one line too many for the question before.
TEST_F(OfstoolTerminal, WhatWasTypedBeforeAQuestionAnswersNone) {
  struct Case {
    std::vector<std::string> options;
    const char* typedAhead;
    std::vector<std::string> answers;
    int exitCode;
  };
  const Case cases[] = {
      {{"--drive", "0"}, "y\n", {"n\n"}, 2},
      {{"--drive", "1"}, "", {"y\ny\n", "c\n"}, 1},  // the update's own question, whose OK writes too
  };
  for (const Case& c : cases) {
    test::TerminalSetup setup;
    setup.answers = c.answers;
    const auto [code, screen] = Flash(c.options, c.typedAhead, setup);
    EXPECT_EQ(code, c.exitCode) << c.options[1] << screen;
    EXPECT_EQ(screen.find("Flashing is processing..."), std::string::npos) << c.options[1] << screen;
  }
}

// The rows the progress bar drew: what follows each "erase to the end of the line".
std::vector<std::string> DrawnBars(const std::string& screen) {
  std::vector<std::string> bars;
  for (std::size_t at = screen.find("\x1b[K"); at != std::string::npos; at = screen.find("\x1b[K", at)) {
    at += 3;
    bars.push_back(screen.substr(at, screen.find_first_of("\r\n\x1b", at) - at));
  }
  return bars;
}

TEST_F(OfstoolTerminal, TheProgressFitsTheTerminalAndEndsCleanly) {
  std::ofstream(Path("failing.profile")) << "clock = virtual\n[drive]\nproduct = KZR-3350P2\nhardware_id = A1\n"
                                        << "fail = write_buffer at 2 times always sense 05/24/00\n";
  struct Case {
    std::vector<std::string> options;
    const char* answer;
    std::string environment;  // besides the demo drives
    unsigned short columns;
    int exitCode;
    const char* last;  // starts a line of its own, and no bar is drawn after it
    bool plain;  // no cursor controls: whole lines only
  };
  const Case cases[] = {
      {{"--yes", "--drive", "0"}, "", "", 60, 0, "All Completed!", false},
      {{"--yes", "--drive", "0"}, "", "OFSFLASH_SIMULATE=" + Path("failing.profile"), 60, 3,
       "ofstool: drive 0 may hold incomplete firmware", false},
      {{"--drive", "0"}, "\x04", "", 60, 2, "ofstool: not written.", false},  // Ctrl-D at the question
      {{"--all", "--yes"}, "", "", 50, 0, "[drive 0] All Completed!", false},
      {{"--yes", "--drive", "0"}, "", "TERM=dumb", 60, 0, "All Completed!", true},
      {{"--yes", "--drive", "0"}, "", "TERM", 0, 0, "All Completed!", true},
  };
  for (const Case& c : cases) {
    test::TerminalSetup setup;
    setup.columns = c.columns;
    if (!c.environment.empty()) setup.environment.push_back(c.environment);
    if (*c.answer != '\0') setup.answers = {c.answer};
    const auto [code, screen] = Flash(c.options, "", setup);
    const std::string name = c.options[0] + " " + c.environment;
    EXPECT_EQ(code, c.exitCode) << name << screen;
    for (const std::string& bar : DrawnBars(screen)) EXPECT_LT(bar.size(), c.columns) << name << bar;
    const auto last = screen.rfind(c.last);
    ASSERT_NE(last, std::string::npos) << name << screen;
    EXPECT_TRUE(screen[last - 1] == '\n' || screen.compare(last - 4, 4, "\r\x1b[J") == 0) << name << screen;
    EXPECT_EQ(screen.find('%', last), std::string::npos) << name << screen;
    if (c.plain) {
      EXPECT_EQ(screen.find('\x1b'), std::string::npos) << name << screen;
      EXPECT_NE(screen.find("\n[########################] 100%  "), std::string::npos) << name << screen;
    }
  }
}

}  // namespace
}  // namespace ofs
