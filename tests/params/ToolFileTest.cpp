#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "params/TempDir.h"
#include "params/Tool.h"

namespace ofs {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteText;

bool Write(const std::string& path, const std::string& text) {
  return WriteFileBinary(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(WriteFileBinary, ReplacesAnExistingFileInsteadOfWritingIntoIt) {
  TempDir dir;
  const std::string path = dir.File("out.bin");
  WriteText(path, "a much longer old content");
  ASSERT_EQ(::link(path.c_str(), dir.File("other").c_str()), 0);

  ASSERT_TRUE(Write(path, std::string("new\0data", 8)));
  EXPECT_EQ(ReadAll(path), std::string("new\0data", 8));
  // The old file was deleted, not overwritten: its other name keeps the old bytes.
  EXPECT_EQ(ReadAll(dir.File("other")), "a much longer old content");
  EXPECT_EQ(dir.EntryCount(), 2u);
}

TEST(WriteFileBinary, FailsWhenTheFileCannotBeCreated) {
  TempDir dir;
  EXPECT_FALSE(Write(dir.File("no/such/dir/out.bin"), "x"));
  EXPECT_EQ(dir.EntryCount(), 0u);
}

// A write that runs out of room must be reported and leave nothing behind.
TEST(WriteFileBinary, FailsAndLeavesNoFileWhenTheDataCannotBeWritten) {
  TempDir dir;
  const std::string path = dir.File("out.bin");
  WriteText(path, "old");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

  const bool written = Write(path, std::string(4096, 'x'));

  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(dir.EntryCount(), 0u);
}

TEST(WriteLinesToFile, WritesCrLfLinesAndAnEmptyFileForNoLines) {
  TempDir dir;
  ASSERT_TRUE(WriteLinesToFile(dir.File("a.ini"), {"[Main]", "x=1"}));
  EXPECT_EQ(ReadAll(dir.File("a.ini")), "[Main]\r\nx=1\r\n");
  ASSERT_TRUE(WriteLinesToFile(dir.File("empty.ini"), {}));
  EXPECT_TRUE(std::filesystem::exists(dir.File("empty.ini")));
  EXPECT_EQ(GetFileLength(dir.File("empty.ini")), 0u);
}

TEST(GetFileLength, GivesTheSizeOrZero) {
  TempDir dir;
  WriteText(dir.File("f"), std::string(1000, 'z'));
  EXPECT_EQ(GetFileLength(dir.File("f")), 1000u);
  EXPECT_EQ(GetFileLength(dir.File("missing")), 0u);
  EXPECT_EQ(GetFileLength(dir.File("")), 0u);  // the directory itself
}

TEST(ReadFileBinary, ReadsUpToCountAndAcceptsAShortFile) {
  TempDir dir;
  WriteText(dir.File("f"), "abcdef");
  std::vector<uint8_t> buffer(10, 0xEE);
  ASSERT_TRUE(ReadFileBinary(dir.File("f"), 4, buffer.data()));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), "abcd\xEE");
  std::vector<uint8_t> large(10, 0);
  ASSERT_TRUE(ReadFileBinary(dir.File("f"), 10, large.data()));
  EXPECT_EQ(std::string(large.begin(), large.end()), std::string("abcdef\0\0\0\0", 10));
  EXPECT_FALSE(ReadFileBinary(dir.File("missing"), 4, buffer.data()));
}

}  // namespace
}  // namespace ofs
