#pragma once
// The login manager as a client of the system bus meets it: connections on a
// socket of its own, one after the other, served from a thread, answering Hello,
// Inhibit (with the write end of a pipe as the lock) and the power properties of
// the login manager and of UPower. Point the client at it with
// DBUS_SYSTEM_BUS_ADDRESS=unix:path=SOCKET; a child process may be the client.
#include <systemd/sd-bus.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ofs::test {

// What the fake's properties answer.
struct FakePower {
  bool upower = true;  // false: UPower is not on the bus
  bool onBattery = false;
  double percentage = 100;
  bool preparingForShutdown = false;
  bool preparingForSleep = false;
};

class FakeLoginManager {
 public:
  explicit FakeLoginManager(const std::string& socketPath, FakePower power = {});
  ~FakeLoginManager();
  FakeLoginManager(const FakeLoginManager&) = delete;
  FakeLoginManager& operator=(const FakeLoginManager&) = delete;

  bool Listening() const { return listening_; }
  // "what|who|why|mode" of each Inhibit so far.
  std::vector<std::string> Requests();
  // Someone still holds the last lock handed out.
  bool LockOpen();
  // Waits up to `withinMs` for every copy of the lock to be closed (the client's copy may be
  // dropped by another thread a moment after the call that released it returned).
  bool LockReleased(int withinMs = 5000);

 private:
  void Serve();
  static int Answer(sd_bus_message* m, void* self, sd_bus_error*);
  int AnswerProperty(sd_bus_message* m);

  int listenFd_ = -1;
  bool listening_ = false;
  const FakePower power_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  int lockReadEnd_ = -1;
  std::thread server_;
};

}  // namespace ofs::test
