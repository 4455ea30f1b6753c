#include "app/ui/DesktopInhibitor.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QVariantMap>

#include <cstdio>

#include "system/InhibitRequest.h"

namespace ofs {

namespace {
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
// A portal that does not answer within this time is treated as absent.
constexpr int kPortalTimeoutMs = 3000;
// The portal's flags: logout, user switch, suspend.
constexpr uint kLogoutSwitchSuspend = 1 | 2 | 4;
}  // namespace

DesktopInhibitor::DesktopInhibitor(const QDBusConnection& bus) : bus_(bus) {
  if (bus_.isConnected()) {
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                       QStringLiteral("Inhibit"));
    // No parent window: the portal then asks nobody and just records the inhibition.
    call << QString() << kLogoutSwitchSuspend
         << QVariantMap{{QStringLiteral("reason"), QString::fromLatin1(kInhibitWhy)}};
    const QDBusReply<QDBusObjectPath> reply = bus_.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.isValid()) request_ = reply.value().path();
  }
  if (!Held()) {
    std::fprintf(stderr, "ofsflash: no desktop portal to hold off logout and user switching; flashing all the same.\n");
  }
}

DesktopInhibitor::~DesktopInhibitor() {
  if (!Held()) return;
  const QDBusMessage close = QDBusMessage::createMethodCall(kPortalService, request_,
                                                            QStringLiteral("org.freedesktop.portal.Request"),
                                                            QStringLiteral("Close"));
  bus_.call(close, QDBus::Block, kPortalTimeoutMs);
}

}  // namespace ofs
