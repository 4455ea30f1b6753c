#include "system/LinuxPlatform.h"

#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "system/InstanceGuard.h"
#include "system/ScopedEnv.h"

namespace ofs {
namespace {

using test::LocalAddress;
using test::ScopedEnv;

class SingleInstanceTest : public testing::Test {
 protected:
  SingleInstanceTest() : runtime_(test::MakeTempDir("ofsrun")), env_("XDG_RUNTIME_DIR", runtime_) {}
  ~SingleInstanceTest() override { std::filesystem::remove_all(runtime_); }

  // A socket file that nobody listens on, as a killed instance leaves it.
  static void LeaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = LocalAddress(path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }

  std::string runtime_;
  ScopedEnv env_;
  std::atomic<int> activations_{0};
  std::function<void()> count_ = [this] { ++activations_; };
};

TEST_F(SingleInstanceTest, SecondInstanceIsRefusedAndRaisesTheFirst) {
  LinuxPlatform first(count_);
  LinuxPlatform second(count_);
  EXPECT_TRUE(first.IsNtPlatform());
  ASSERT_TRUE(first.EnsureSingleInstance("Orva Flash OFS3 Utility"));
  EXPECT_TRUE(first.EnsureSingleInstance("Orva Flash OFS3 Utility"));  // already held
  EXPECT_FALSE(second.EnsureSingleInstance("Orva Flash OFS3 Utility"));
  // The refusal returns only after the first one answered, so the count is final.
  EXPECT_EQ(activations_, 1);
  EXPECT_FALSE(second.EnsureSingleInstance("Orva Flash OFS3 Utility"));
  EXPECT_EQ(activations_, 2);
  const InstancePaths paths = InstancePathsFor("Orva Flash OFS3 Utility");
  EXPECT_EQ(std::filesystem::path(paths.lock).parent_path(), runtime_);
  EXPECT_EQ(std::filesystem::path(paths.lock).filename(),
            "Orva_Flash_OFS3_Utility-" + std::to_string(::geteuid()) + ".lock");
}

TEST_F(SingleInstanceTest, OtherTitlesDoNotConflict) {
  LinuxPlatform first(count_), second(count_);
  EXPECT_TRUE(first.EnsureSingleInstance("One"));
  EXPECT_TRUE(second.EnsureSingleInstance("Two/../Other"));
  EXPECT_EQ(activations_, 0);
}

TEST_F(SingleInstanceTest, GuardEndsWithItsOwner) {
  const InstancePaths paths = InstancePathsFor("T");
  {
    LinuxPlatform first(count_);
    ASSERT_TRUE(first.EnsureSingleInstance("T"));
    EXPECT_TRUE(std::filesystem::exists(paths.socket));
  }
  EXPECT_FALSE(std::filesystem::exists(paths.socket));
  LinuxPlatform next(count_);
  EXPECT_TRUE(next.EnsureSingleInstance("T"));
}

TEST_F(SingleInstanceTest, StaleLockAndSocketFilesAreTakenOver) {
  const InstancePaths paths = InstancePathsFor("T");
  std::ofstream(paths.lock) << "left over";
  LeaveStaleSocket(paths.socket);
  LinuxPlatform first(count_), second(count_);
  ASSERT_TRUE(first.EnsureSingleInstance("T"));
  EXPECT_FALSE(second.EnsureSingleInstance("T"));
  EXPECT_EQ(activations_, 1);
}

TEST_F(SingleInstanceTest, HolderThatDoesNotListenStillRefusesAtOnce) {
  const InstancePaths paths = InstancePathsFor("T");
  const int holder = ::open(paths.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  LeaveStaleSocket(paths.socket);
  LinuxPlatform second(count_);
  EXPECT_FALSE(second.EnsureSingleInstance("T"));
  EXPECT_FALSE(InstanceGuard::RequestActivation(paths));
  ::close(holder);
}

TEST_F(SingleInstanceTest, SilentPeerDoesNotKeepTheGuardAlive) {
  const int peer = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  {
    LinuxPlatform first(count_);
    ASSERT_TRUE(first.EnsureSingleInstance("T"));
    // Connects and says nothing, and stays connected while the guard ends.
    const sockaddr_un address = LocalAddress(InstancePathsFor("T").socket);
    ASSERT_EQ(::connect(peer, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  ::close(peer);
  EXPECT_EQ(activations_, 0);
  LinuxPlatform next(count_);
  EXPECT_TRUE(next.EnsureSingleInstance("T"));
}

TEST(InstancePaths, FallBackToTmpWithTheUserId) {
  ScopedEnv empty("XDG_RUNTIME_DIR", "");
  EXPECT_EQ(InstancePathsFor("a b").lock, "/tmp/a_b-" + std::to_string(::geteuid()) + ".lock");
  EXPECT_EQ(InstancePathsFor("").socket, "/tmp/ofsflash-" + std::to_string(::geteuid()) + ".sock");
}

}  // namespace
}  // namespace ofs
