#pragma once

#include "FileBytes.h"
#include "platform/VbError.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

// What the tests share, none of it needing a window.
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

// The text is prefix + the system's long time of a moment between from and to.
bool stampedBetween(const QString &text, const QString &prefix, const QTime &from, const QTime &to);

// A temporary program directory: the globals point Client.cfg and User.cfg into it, and the
// registry store and autostart directories are redirected into it while it lives.
class ProgramDir
{
public:
    ProgramDir();
    ~ProgramDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    // Writes a file with the given text (lines joined with CR LF).
    void write(const QString &name, const QStringList &lines) const;

private:
    QTemporaryDir m_dir;
};

// The companion program's end of the side link on 127.0.0.1: keeps every accepted peer and
// collects what the newest one sends.
class LoopbackServer
{
public:
    explicit LoopbackServer(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const { return server.serverPort(); }
    QTcpSocket *peer() const { return peers.isEmpty() ? nullptr : peers.last().data(); }
    void send(const QByteArray &bytes);

    QTcpServer server;
    bool listening = false;
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
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;
    bool unmount();
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }
    // Why a test may not mount here, or nothing when it may.
    static QString refusal();

private:
    QByteArray m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace TestSupport
