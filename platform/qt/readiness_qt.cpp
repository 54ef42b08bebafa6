// This machine's readiness checks on Linux, with systemd asked over the system bus whether its
// network time service is enabled: Qt's D-Bus module is what the program has for it.
#include "platform/linux/readiness_linux.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <chrono>

namespace larkmoor {

namespace {

constexpr int kBusWaitMs = 1000;
// The setting changes only when an administrator changes it: asked at most this often.
constexpr auto kAskEvery = std::chrono::minutes(1);

// Whether systemd-timesyncd is enabled, as systemd itself (always on the bus where it runs) says;
// nothing where it cannot be asked. Never starts a service to answer: systemd-timedated, which
// timedatectl asks, would be started by the bus at every ask and kept from ever idling out.
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

} // namespace

std::unique_ptr<Readiness> MakeSystemReadiness() {
    ReadinessFiles files = SystemReadinessFiles();
    // Called on the checks' own thread only.
    files.ntp = [last = std::optional<std::chrono::steady_clock::time_point>(),
                 known = std::optional<bool>()]() mutable {
        const auto now = std::chrono::steady_clock::now();
        if (!last || now - *last >= kAskEvery)
            last = now, known = TimesyncdEnabled();
        return known;
    };
    return MakeBackgroundReadiness([files] { return CheckLinuxReadiness(files); });
}

} // namespace larkmoor
