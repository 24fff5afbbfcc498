#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>

class frmClient;

// The main window against a loopback server, shared by the window tests.
namespace TestSupport {

constexpr int kWait = 10000;

// The text is prefix + the system's long time of a moment between from and to.
bool stampedBetween(const QString &text, const QString &prefix, const QTime &from, const QTime &to);

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

// Writes Client.cfg with [Client] and the given lines and loads the main window.
frmClient &LoadPanel(const ProgramDir &dir, const QStringList &clientLines);
// Unloads both windows and lets them go.
void UnloadForms();

struct Profile
{
    QString name, password;
    qint32 resolution;
};
// A whole profile series as the side link delivers it; the list follows the last one.
void ReceiveSeries(frmClient &form, const QList<Profile> &series);

} // namespace TestSupport
