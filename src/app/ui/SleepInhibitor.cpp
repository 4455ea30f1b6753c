#include "app/ui/SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusReply>

#include <cstdio>

#include "system/InhibitRequest.h"

namespace ofs {

namespace {
// A login manager that does not answer within this time is treated as absent.
constexpr int kInhibitTimeoutMs = 3000;
}  // namespace

SleepInhibitor::SleepInhibitor(const QDBusConnection& bus) {
  if (bus.isConnected()) Take(bus);
  if (!Held()) std::fprintf(stderr, "ofsflash: %s\n", kNoLoginManagerNotice);
}

void SleepInhibitor::Take(const QDBusConnection& bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QString::fromLatin1(kInhibitWhat) << QString::fromLatin1(kInhibitWho) << QString::fromLatin1(kInhibitWhy)
       << QString::fromLatin1(kInhibitMode);
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, kInhibitTimeoutMs);
  if (reply.isValid()) lock_ = reply.value();
}

}  // namespace ofs
