#include "support/FakeLoginManager.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

#include "support/BusServer.h"

namespace ofs::test {
namespace {
constexpr int kSafetyLimitMs = 10000;  // only reached when the code under test never connects

std::string Text(const char* s) { return s != nullptr ? s : ""; }
}  // namespace

FakeLoginManager::FakeLoginManager(const std::string& socketPath, FakePower power) : power_(power) {
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  listening_ = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
               ::listen(listenFd_, 1) == 0;
  server_ = std::thread([this] { Serve(); });
}

FakeLoginManager::~FakeLoginManager() {
  ::shutdown(listenFd_, SHUT_RDWR);  // a test that never connected ends the wait for a client
  if (server_.joinable()) server_.join();
  ::close(listenFd_);
  if (lockReadEnd_ >= 0) ::close(lockReadEnd_);
}

std::vector<std::string> FakeLoginManager::Requests() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool FakeLoginManager::LockOpen() {
  const std::lock_guard<std::mutex> lock(mutex_);
  pollfd p{lockReadEnd_, POLLIN, 0};
  return lockReadEnd_ >= 0 && ::poll(&p, 1, 0) == 0;  // no hang-up: a write end is still open
}

bool FakeLoginManager::LockReleased(int withinMs) {
  const std::lock_guard<std::mutex> lock(mutex_);
  pollfd p{lockReadEnd_, POLLIN, 0};
  return lockReadEnd_ >= 0 && ::poll(&p, 1, withinMs) == 1 && (p.revents & POLLHUP) != 0;
}

void FakeLoginManager::Serve() {
  while (listening_ && ServeOneBusClient(listenFd_, &FakeLoginManager::Answer, this, kSafetyLimitMs)) {
  }
}

int FakeLoginManager::Answer(sd_bus_message* m, void* self, sd_bus_error*) {
  uint8_t type = 0;
  if (sd_bus_message_get_type(m, &type) < 0 || type != SD_BUS_MESSAGE_METHOD_CALL) return 0;
  const std::string member = Text(sd_bus_message_get_member(m));
  if (member == "Hello") return sd_bus_reply_method_return(m, "s", ":1.1") >= 0 ? 1 : 0;
  auto& fake = *static_cast<FakeLoginManager*>(self);
  if (member == "Get" && Text(sd_bus_message_get_interface(m)) == "org.freedesktop.DBus.Properties") {
    return fake.AnswerProperty(m);
  }
  const char* what = nullptr;
  const char* who = nullptr;
  const char* why = nullptr;
  const char* mode = nullptr;
  int ends[2];
  if (member != "Inhibit" || Text(sd_bus_message_get_interface(m)) != "org.freedesktop.login1.Manager" ||
      sd_bus_message_read(m, "ssss", &what, &who, &why, &mode) < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
    sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_METHOD, "not served here");
    return 1;
  }
  {
    const std::lock_guard<std::mutex> lock(fake.mutex_);
    fake.requests_.push_back(Text(what) + "|" + Text(who) + "|" + Text(why) + "|" + Text(mode));
    if (fake.lockReadEnd_ >= 0) ::close(fake.lockReadEnd_);
    fake.lockReadEnd_ = ends[0];
  }
  sd_bus_reply_method_return(m, "h", ends[1]);  // the reply carries a copy
  ::close(ends[1]);
  return 1;
}

int FakeLoginManager::AnswerProperty(sd_bus_message* m) {
  const std::string service = Text(sd_bus_message_get_destination(m));
  const char* interface = nullptr;
  const char* name = nullptr;
  sd_bus_message_read(m, "ss", &interface, &name);
  const std::string property = Text(interface) + "." + Text(name);
  if (service == "org.freedesktop.UPower" && !power_.upower) {
    sd_bus_reply_method_errorf(m, SD_BUS_ERROR_SERVICE_UNKNOWN, "not on this bus");
  } else if (property == "org.freedesktop.UPower.OnBattery") {
    sd_bus_reply_method_return(m, "v", "b", power_.onBattery ? 1 : 0);
  } else if (property == "org.freedesktop.UPower.Device.Percentage") {
    sd_bus_reply_method_return(m, "v", "d", power_.percentage);
  } else if (property == "org.freedesktop.login1.Manager.PreparingForShutdown") {
    sd_bus_reply_method_return(m, "v", "b", power_.preparingForShutdown ? 1 : 0);
  } else if (property == "org.freedesktop.login1.Manager.PreparingForSleep") {
    sd_bus_reply_method_return(m, "v", "b", power_.preparingForSleep ? 1 : 0);
  } else {
    sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_PROPERTY, "not served here");
  }
  return 1;
}

}  // namespace ofs::test
