#pragma once
// Runs the built tools (mkofs, ofsmerge, ofstool) from tests, in a private
// temporary directory that is removed afterwards.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/BinaryDir.h"

namespace ofs::test {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// A pseudo terminal for a run: its width, and what the run's stdout and environment differ in.
struct TerminalSetup {
  unsigned short columns = 0;  // 0: the terminal tells no width
  std::string stdoutPath;      // stdout goes to this file instead of the terminal
  std::string stderrPath;      // and stderr to this one
  std::vector<std::string> environment;  // NAME=VALUE, or NAME alone to unset it
  // Typed one by one, each once the next question shows ("[y/N] " or "[OK/Cancel]? "),
  // as a person answers; what is typed before the program reads is RunOnTerminal's `typed`.
  std::vector<std::string> answers{};
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string binaryDir = BinaryDir();
    ASSERT_FALSE(binaryDir.empty());
    tools_ = binaryDir + "/tools/";
    std::string pattern = (std::filesystem::temp_directory_path() / "ofs-tools-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
    // Runs are recorded in the test's own folder, never in the real home.
    setenv("XDG_STATE_HOME", (dir_ + "state").c_str(), 1);
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Tool(const std::string& name) const { return tools_ + name; }
  std::string Path(const std::string& name) const { return dir_ + name; }

  // a.ofs: type 6, for the first demo drive (ORVA KZR-3350P2, hardware ID A1).
  void BuildImage() {
    const RunResult built = Run(Tool("mkofs") + " -o " + Path("a.ofs") +
                                " --banks 2 --atapi-type 6 --template 0x100 --product KZR-3350P2 --revision 1.02" +
                                " --hwid A1");
    ASSERT_EQ(built.exitCode, 0) << built.err;
    // The window's guard is per user: each test is a user of its own.
    setenv("XDG_RUNTIME_DIR", Path("").c_str(), 1);
  }

  // command: a shell command line; its stdout and stderr are captured.
  RunResult Run(const std::string& command) const {
    RunResult result;
    const std::string errPath = Path("stderr.txt");
    FILE* pipe = ::popen((command + " 2>'" + errPath + "'").c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.out.append(chunk, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadText(errPath);
    return result;
  }

  // Runs `argv` on a new pseudo terminal that already holds `typed`; returns its
  // exit code and everything it wrote to the terminal.
  static std::pair<int, std::string> RunOnTerminal(const std::vector<std::string>& argv, const std::string& typed,
                                                   const TerminalSetup& setup = {}) {
    int master = -1;
    winsize size{};
    size.ws_col = setup.columns;
    size.ws_row = setup.columns == 0 ? 0 : 24;
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
      setenv("TERM", "xterm", 1);  // a terminal with cursor controls, unless the setup says otherwise
      for (const std::string& variable : setup.environment) {
        const auto equals = variable.find('=');
        if (equals == std::string::npos) {
          unsetenv(variable.c_str());
        } else {
          setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
        }
      }
      for (const auto& [path, fd] : {std::pair{setup.stdoutPath, STDOUT_FILENO}, std::pair{setup.stderrPath, STDERR_FILENO}}) {
        if (path.empty()) continue;
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (file < 0 || dup2(file, fd) < 0) _exit(126);
      }
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    if (child < 0) return {-1, {}};
    // Typed ahead, before the program reads: a terminal in line mode would keep it until Enter.
    if (write(master, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) return {-1, {}};
    std::string screen;
    char chunk[1024];
    std::size_t answered = 0;
    for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) {
      screen.append(chunk, static_cast<std::size_t>(n));
      for (; answered < setup.answers.size() && QuestionsShown(screen) > answered; ++answered) {
        const std::string& answer = setup.answers[answered];
        if (write(master, answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) return {-1, {}};
      }
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, screen};
  }

  static std::size_t QuestionsShown(const std::string& screen) {
    std::size_t count = 0;
    for (const char* prompt : {"[y/N] ", "[OK/Cancel]? "}) {
      for (auto at = screen.find(prompt); at != std::string::npos; at = screen.find(prompt, at + 1)) ++count;
    }
    return count;
  }

  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) const {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

 private:
  std::string tools_;
  std::string dir_;
};

}  // namespace ofs::test
