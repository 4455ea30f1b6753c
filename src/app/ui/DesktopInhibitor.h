#pragma once
// Asks the desktop, through the XDG desktop portal, to hold off logout, user
// switching and suspend for as long as it lives: the login manager's lock does not
// stop a user from logging out under a flash. Without a portal (or a bus) it holds
// nothing, says so on stderr, and the caller goes on.
#include <QDBusConnection>
#include <QString>

namespace ofs {

class DesktopInhibitor {
 public:
  explicit DesktopInhibitor(const QDBusConnection& bus);
  // Closes the portal's request object, which gives the inhibition back.
  ~DesktopInhibitor();
  DesktopInhibitor(const DesktopInhibitor&) = delete;
  DesktopInhibitor& operator=(const DesktopInhibitor&) = delete;

  bool Held() const { return !request_.isEmpty(); }

 private:
  QDBusConnection bus_;
  QString request_;  // the object path the portal answered with
};

}  // namespace ofs
