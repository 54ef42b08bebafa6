// This machine's readiness checks on Linux, with systemd-timedated's NTP setting asked over the
// system bus: Qt's D-Bus module is what the program has for it.
#include "platform/linux/readiness_linux.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace larkmoor {

namespace {

constexpr int kBusWaitMs = 1000;

// Whether systemd-timedated has a network time service keep the clock; nothing where no system
// bus runs (a container, a CI machine) or timedated does not answer.
std::optional<bool> TimedatedNtp() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage ask =
        QDBusMessage::createMethodCall("org.freedesktop.timedate1", "/org/freedesktop/timedate1",
                                       "org.freedesktop.DBus.Properties", "Get");
    ask << QString("org.freedesktop.timedate1") << QString("NTP");
    const QDBusMessage reply = bus.call(ask, QDBus::Block, kBusWaitMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().front().value<QDBusVariant>().variant().toBool();
}

} // namespace

std::unique_ptr<Readiness> MakeSystemReadiness() {
    ReadinessFiles files = SystemReadinessFiles();
    files.ntp = TimedatedNtp;
    return MakeBackgroundReadiness([files] { return CheckLinuxReadiness(files); });
}

} // namespace larkmoor
