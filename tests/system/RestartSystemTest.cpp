#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

#include "support/BusServer.h"
#include "system/LinuxPlatform.h"
#include "system/ScopedEnv.h"

namespace ofs {
namespace {

struct BusCall {
  std::string destination, path, interface, member;
  int interactive = -1;
};

// One-connection stand-in for the system bus: answers the client's Hello and
// records the first other method call. The test points the client at it with
// DBUS_SYSTEM_BUS_ADDRESS, so no test can reach the machine's real bus.
class FakeSystemBus {
 public:
  explicit FakeSystemBus(const std::string& socketPath) {
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = test::LocalAddress(socketPath);
    listening_ = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(listenFd_, 1) == 0;
    server_ = std::thread([this] { Serve(); });
  }
  ~FakeSystemBus() {
    if (server_.joinable()) server_.join();
    ::close(listenFd_);
  }
  // Waits for the server to finish (the client hung up or the safety limit passed).
  const std::optional<BusCall>& Call() {
    if (server_.joinable()) server_.join();
    return call_;
  }
  bool listening() const { return listening_; }

 private:
  void Serve() {
    constexpr int kSafetyLimitMs = 10000;  // only reached when the code under test never connects
    if (listening_) test::ServeOneBusClient(listenFd_, &FakeSystemBus::Filter, this, kSafetyLimitMs);
  }

  static int Filter(sd_bus_message* m, void* self, sd_bus_error*) {
    uint8_t type = 0;
    if (sd_bus_message_get_type(m, &type) < 0 || type != SD_BUS_MESSAGE_METHOD_CALL) return 0;
    const auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
    if (text(sd_bus_message_get_member(m)) == "Hello") return sd_bus_reply_method_return(m, "s", ":1.1") >= 0 ? 1 : 0;
    BusCall call{text(sd_bus_message_get_destination(m)), text(sd_bus_message_get_path(m)),
                 text(sd_bus_message_get_interface(m)), text(sd_bus_message_get_member(m))};
    sd_bus_message_read(m, "b", &call.interactive);
    static_cast<FakeSystemBus*>(self)->call_ = call;
    sd_bus_reply_method_return(m, nullptr);
    return 1;
  }

  int listenFd_ = -1;
  bool listening_ = false;
  std::optional<BusCall> call_;
  std::thread server_;
};

// Every test points the client at a socket of its own before anything runs.
class RestartSystemTest : public testing::Test {
 protected:
  ~RestartSystemTest() override { std::filesystem::remove_all(dir_); }

  std::string dir_ = test::MakeTempDir("ofsbus");
  test::ScopedEnv bus_{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_ + "/bus"};
};

TEST_F(RestartSystemTest, AsksTheLoginManagerForAnInteractiveReboot) {
  FakeSystemBus bus(dir_ + "/bus");
  ASSERT_TRUE(bus.listening());
  LinuxPlatform platform;
  platform.RestartSystem();
  const std::optional<BusCall>& call = bus.Call();
  ASSERT_TRUE(call);
  EXPECT_EQ(call->destination, "org.freedesktop.login1");
  EXPECT_EQ(call->path, "/org/freedesktop/login1");
  EXPECT_EQ(call->interface, "org.freedesktop.login1.Manager");
  EXPECT_EQ(call->member, "Reboot");
  EXPECT_EQ(call->interactive, 1);
}

TEST_F(RestartSystemTest, DoesNothingWithoutASystemBus) {
  LinuxPlatform platform;  // nobody listens on the test's bus socket
  platform.RestartSystem();  // returns normally
  SUCCEED();
}

}  // namespace
}  // namespace ofs
