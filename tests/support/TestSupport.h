#pragma once

#include "FileBytes.h"
#include "platform/VbError.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace TestSupport {
constexpr int kWait = 10000;

// The error number an operation raises, 0 when it raises none.
template<typename F>
int errorOf(F &&f)
{
    try {
        f();
    } catch (const VbError &e) {
        return e.number();
    }
    return 0;
}

// A temporary program directory: Client.cfg, User.cfg, the registry store and autostart directories while it lives.
class ProgramDir
{
public:
    ProgramDir();
    ~ProgramDir();
    QString file(const QString &name) const { return m_dir.filePath(name); }
    void write(const QString &name, const QStringList &lines) const; // lines joined with CR LF
private:
    QTemporaryDir m_dir;
};

// No session bus for this process and the programs it starts, whatever the desktop the tests run
// on has: an address no bus can have. Without any address libdbus forks a helper to look for a
// bus, and a child forked from a threaded program under this compiler's address sanitizer can
// hang on the allocator's locks before it runs the helper, its parent waiting on it for ever.
inline void withoutSessionBus() { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null/no-bus"); }

// The server's end of the side link: keeps every accepted peer, collects what the newest sends.
struct LoopbackServer
{
    explicit LoopbackServer(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const { return server.serverPort(); }
    QTcpSocket *peer() const { return peers.isEmpty() ? nullptr : peers.last().data(); }
    void send(const QByteArray &bytes);

    QTcpServer server;
    QList<QPointer<QTcpSocket>> peers;
    QByteArray received;
};

// A loopback port on which nobody listens: connections to it are refused at once.
quint16 refusingPort();

// A tmpfs mounted for the length of a test (root only), unmounted however the test ends.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &dir);
    ~TmpfsMount() { unmount(); }
    Q_DISABLE_COPY(TmpfsMount)
    bool unmount();
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }
    static QString refusal(); // why a test may not mount here, or nothing when it may
private:
    QByteArray m_dir;
    bool m_mounted = false;
    QString m_error;
};
} // namespace TestSupport
