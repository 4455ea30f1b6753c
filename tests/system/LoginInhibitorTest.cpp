// ofstool's hold on the login manager: taken with the shared request, given back
// with the object, and said once where there is no login manager.
#include "system/LoginInhibitor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/FakeLoginManager.h"
#include "system/ScopedEnv.h"

namespace ofs {
namespace {

class LoginInhibitorTest : public testing::Test {
 protected:
  ~LoginInhibitorTest() override {
    if (notices_ != nullptr) std::fclose(notices_);
    std::free(text_);  // the stream's buffer outlives the stream
    std::filesystem::remove_all(dir_);
  }
  std::string Notices() {
    std::fflush(notices_);
    return std::string(text_ != nullptr ? text_ : "", size_);
  }

  std::string dir_ = test::MakeTempDir("ofsinhibit");
  test::ScopedEnv bus_{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_ + "/bus"};
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* notices_ = open_memstream(&text_, &size_);
};

TEST_F(LoginInhibitorTest, HoldsTheBlockLockForAsLongAsItLives) {
  test::FakeLoginManager login1(dir_ + "/bus");
  ASSERT_TRUE(login1.Listening());
  {
    const LoginInhibitor lock("ofstool", notices_);
    EXPECT_TRUE(lock.Held());
    EXPECT_TRUE(login1.LockOpen());
  }
  EXPECT_TRUE(login1.LockReleased());
  EXPECT_EQ(login1.Requests(), std::vector<std::string>{"shutdown:sleep:idle:handle-lid-switch:handle-power-key:"
                                                        "handle-suspend-key:handle-hibernate-key|ofsflash|"
                                                        "Updating drive firmware|block"});
  EXPECT_EQ(Notices(), "");
}

TEST_F(LoginInhibitorTest, WithoutALoginManagerHoldsNothingAndSaysSo) {
  const LoginInhibitor lock("ofstool", notices_);  // nobody listens on the test's bus socket
  EXPECT_FALSE(lock.Held());
  EXPECT_EQ(Notices(), "ofstool: no login manager to hold off suspend and shutdown; flashing all the same.\n");
}

}  // namespace
}  // namespace ofs
