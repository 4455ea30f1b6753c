#pragma once
// Holds the login manager's block lock (system/InhibitRequest.h) for as long as it
// lives, so a laptop does not suspend or power off in the middle of a flash. Without
// a login manager (or a bus) it holds nothing, says so on stderr, and the caller
// goes on as before.
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>

namespace ofs {

class SleepInhibitor {
 public:
  explicit SleepInhibitor(const QDBusConnection& bus);
  // The lock is the file descriptor: dropping our copy releases it.
  ~SleepInhibitor() = default;
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

  bool Held() const { return lock_.isValid(); }

 private:
  void Take(const QDBusConnection& bus);

  QDBusUnixFileDescriptor lock_;
};

}  // namespace ofs
