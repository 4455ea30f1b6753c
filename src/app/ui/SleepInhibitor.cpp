#include "app/ui/SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusReply>

namespace ofs {

namespace {
// A login manager that does not answer within this time is treated as absent.
constexpr int kInhibitTimeoutMs = 3000;
}  // namespace

SleepInhibitor::SleepInhibitor(const QDBusConnection& bus) {
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QStringLiteral("sleep:shutdown") << QStringLiteral("ofsflash")
       << QStringLiteral("Updating drive firmware") << QStringLiteral("block");
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kInhibitTimeoutMs);
  if (reply.isValid()) lock_ = reply.value();
}

}  // namespace ofs
