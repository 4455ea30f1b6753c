// The one way a named file is opened for reading: what a path is when it is no regular file.
#include <gtest/gtest.h>

#include <filesystem>

#include "params/RegularFile.h"
#include "params/TempDir.h"
#include "params/Tool.h"

namespace ofs {
namespace {

TEST(InputFile, SaysWhatAPathIsWhenItIsNoRegularFile) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  test::WriteText(dir.File("text"), "abcdef");
  std::filesystem::create_symlink("text", dir.File("link"));
  const std::pair<std::string, std::string> cases[] = {
      {dir.File("missing"), "no such file"},
      {dir.File("folder"), "is a directory"},
      {"/dev/null", "is a character device, not a regular file"},
      {dir.File("text"), ""},
      {dir.File("link"), ""},  // a link to a regular file is one
  };
  for (const auto& [path, problem] : cases) {
    EXPECT_EQ(InputFile(path).problem(), problem) << path;
    EXPECT_EQ(GetFileLength(path), problem.empty() ? 6u : 0u) << path;
  }
  std::string problem;
  // One byte past the limit, so that the caller sees the file is larger than it takes.
  EXPECT_EQ(ReadRegularFile(dir.File("text"), problem, 3), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
}

}  // namespace
}  // namespace ofs
