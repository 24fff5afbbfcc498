#include "system/modSystemBasic.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>

#include <unistd.h>

namespace modSystemBasic {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");

// logind answers at once or not at all; the program never waits for it anyway.
constexpr int kTimeoutMs = 5000;

QDBusMessage managerCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kManagerPath, kManager, method);
}

// Sends without waiting; the answer, an error included, is dropped.
void sendAndForget(const QDBusConnection &bus, const QDBusMessage &message)
{
    QDBusConnection(bus).asyncCall(message, kTimeoutMs);
}

void terminateOwnSession(const QDBusConnection &bus)
{
    QDBusMessage lookup = managerCall(QStringLiteral("GetSessionByPID"));
    lookup << quint32(::getpid());
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(lookup, kTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [bus](QDBusPendingCallWatcher *w) {
                         const QDBusPendingReply<QDBusObjectPath> reply = *w;
                         w->deleteLater();
                         // Not in a logind session, or no logind: there is nothing to end.
                         if (reply.isError() || reply.value().path().isEmpty())
                             return;
                         sendAndForget(bus, QDBusMessage::createMethodCall(
                                                kService, reply.value().path(), kSession,
                                                QStringLiteral("Terminate")));
                     });
}

} // namespace

void RequestLogind(const QDBusConnection &bus, quint32 flags)
{
    if (!bus.isConnected())
        return;
    const QVariant interactive = false; // never ask the operator for a password
    if (flags & EWX_REBOOT) {
        QDBusMessage call = managerCall(QStringLiteral("Reboot"));
        call << interactive;
        sendAndForget(bus, call);
    } else if (flags & EWX_SHUTDOWN) {
        QDBusMessage call = managerCall(QStringLiteral("PowerOff"));
        call << interactive;
        sendAndForget(bus, call);
    } else {
        terminateOwnSession(bus);
    }
}

} // namespace modSystemBasic
