#pragma once
// Runs the built tools (mkofs, ofsmerge, ofstool) from tests, in a private
// temporary directory that is removed afterwards.
#include <sys/wait.h>

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
