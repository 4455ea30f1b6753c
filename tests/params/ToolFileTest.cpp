#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
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

mode_t KindOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// Each existing kind of path: what the write answers and what is left there.
TEST(WriteFileBinary, ReplacesOnlyRegularFilesAndNeverWhatElseThePathNames) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::function<std::string(const TempDir&)> make;  // the path to write
    std::string error;
    std::function<void(const TempDir&, const std::string&)> check;
  };
  int reader = -1;  // the fifo's other end, so that its writer does not wait
  int terminal = -1;
  std::vector<Case> cases = {
      {"a new file", [](const TempDir& d) { return d.File("new"); }, "",
       [](const TempDir&, const std::string& p) { EXPECT_EQ(ReadAll(p), "data"); }},
      {"a link to a regular file",
       [](const TempDir& d) {
         WriteText(d.File("target"), "old and longer");
         fs::create_symlink("target", d.File("link"));
         return d.File("link");
       },
       "",
       [](const TempDir& d, const std::string& p) {
         EXPECT_EQ(KindOf(p), S_IFLNK);
         EXPECT_EQ(ReadAll(d.File("target")), "data");
         EXPECT_EQ(d.EntryCount(), 2u);  // no temporary left beside either
       }},
      {"a fifo",
       [&reader](const TempDir& d) {
         ::mkfifo(d.File("fifo").c_str(), 0600);
         reader = ::open(d.File("fifo").c_str(), O_RDONLY | O_NONBLOCK);
         fs::create_symlink("fifo", d.File("to-fifo"));
         return d.File("to-fifo");
       },
       "",
       [&reader](const TempDir& d, const std::string& p) {
         char got[8] = {};
         EXPECT_EQ(::read(reader, got, sizeof got), 4);
         EXPECT_STREQ(got, "data");
         EXPECT_EQ(KindOf(d.File("fifo")), S_IFIFO);
         EXPECT_EQ(KindOf(p), S_IFLNK);
         ::close(reader);
       }},
      // Refused at once: waiting for a reader would hang the program.
      {"a fifo that nobody reads",
       [](const TempDir& d) {
         ::mkfifo(d.File("fifo").c_str(), 0600);
         return d.File("fifo");
       },
       "it is a fifo that nobody reads", [](const TempDir&, const std::string& p) { EXPECT_EQ(KindOf(p), S_IFIFO); }},
      // A terminal of this test's own rather than a node of the machine's /dev.
      {"a character device",
       [&terminal](const TempDir&) {
         terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
         ::grantpt(terminal);
         ::unlockpt(terminal);
         return std::string(::ptsname(terminal));
       },
       "",
       [&terminal](const TempDir&, const std::string& p) {
         char got[8] = {};
         EXPECT_EQ(::read(terminal, got, sizeof got), 4);
         EXPECT_STREQ(got, "data");
         EXPECT_EQ(KindOf(p), S_IFCHR);
         ::close(terminal);
       }},
      {"a dangling link",
       [](const TempDir& d) {
         fs::create_symlink("nowhere", d.File("dangling"));
         return d.File("dangling");
       },
       "it is a symbolic link to nothing",
       [](const TempDir& d, const std::string& p) {
         EXPECT_EQ(KindOf(p), S_IFLNK);
         EXPECT_FALSE(fs::exists(d.File("nowhere")));
       }},
      {"a directory",
       [](const TempDir& d) {
         fs::create_directory(d.File("dir"));
         return d.File("dir");
       },
       "it is a directory, not a file", [](const TempDir&, const std::string& p) { EXPECT_EQ(KindOf(p), S_IFDIR); }},
      {"a socket",
       [](const TempDir& d) {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, d.File("sock").c_str(), sizeof address.sun_path - 1);
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
         ::close(fd);
         return d.File("sock");
       },
       "it is a socket, not a file", [](const TempDir&, const std::string& p) { EXPECT_EQ(KindOf(p), S_IFSOCK); }},
  };
  // Only root makes device nodes; major 240 is for local use, so no disk is behind it.
  if (::geteuid() == 0) {
    cases.push_back({"a block device",
                     [](const TempDir& d) {
                       ::mknod(d.File("disk").c_str(), S_IFBLK | 0600, makedev(240, 0));
                       return d.File("disk");
                     },
                     "it is a block device, not a file",
                     [](const TempDir&, const std::string& p) { EXPECT_EQ(KindOf(p), S_IFBLK); }});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = c.make(dir);
    EXPECT_EQ(WriteFileBinaryError(path, reinterpret_cast<const uint8_t*>("data"), 4), c.error);
    c.check(dir, path);
  }
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
