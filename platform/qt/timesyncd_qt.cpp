// Asks systemd over the system bus whether its network time service is enabled: Qt's D-Bus
// module is what the program has for it.
#include "platform/qt/timesyncd_qt.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace larkmoor {

namespace {
constexpr int kBusWaitMs = 1000;
} // namespace

std::optional<bool> TimesyncdEnabled() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage ask =
        QDBusMessage::createMethodCall("org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                       "org.freedesktop.systemd1.Manager", "GetUnitFileState");
    ask << QString("systemd-timesyncd.service");
    ask.setAutoStartService(false);
    const QDBusMessage reply = bus.call(ask, QDBus::Block, kBusWaitMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().front().toString() == "enabled";
}

} // namespace larkmoor
