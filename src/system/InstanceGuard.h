#pragma once
// The per-user single-instance guard of the Linux build: an flock'ed file named
// after the application title, and a local socket beside it on which the
// holder listens for "come to the front" requests from later instances.
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace ofs {

struct InstancePaths {
  std::string lock;
  std::string socket;
};

// In $XDG_RUNTIME_DIR when it is set, else /tmp; the title is reduced to
// characters that are safe in a file name, and the user id is part of the name.
InstancePaths InstancePathsFor(const std::string& title);

class InstanceGuard {
 public:
  enum class Outcome {
    Acquired,       // this process now holds the lock
    HeldElsewhere,  // another instance holds it
    Unavailable,    // no lock could be made; run unguarded rather than not at all
  };

  // On Acquired, `guard` holds the lock until it is destroyed; onActivation
  // runs on the listener thread for every request (it must not destroy the guard).
  static Outcome Acquire(const InstancePaths& paths, std::function<void()> onActivation,
                         std::unique_ptr<InstanceGuard>& guard);
  // Asks the holder to come to the front; true when it acknowledged.
  static bool RequestActivation(const InstancePaths& paths);

  class Token {  // only Acquire makes guards
    friend class InstanceGuard;
    Token() = default;
  };
  InstanceGuard(Token, int lockFd, std::string socketPath, std::function<void()> onActivation);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

 private:
  void Listen();
  void Serve();
  void Answer(int client);

  int lockFd_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  std::string socketPath_;
  std::function<void()> onActivation_;
  std::thread listener_;
};

}  // namespace ofs
