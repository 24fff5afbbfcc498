#include "Panel.h"

#include "client/Forms.h"
#include "client/frmClient.h"

#include <QCoreApplication>
#include <QLocale>

namespace TestSupport {

bool stampedBetween(const QString &text, const QString &prefix, const QTime &from, const QTime &to)
{
    for (QTime t = from.addMSecs(-from.msec()); t <= to.addSecs(1); t = t.addSecs(1))
        if (text == prefix + QLocale::system().toString(t, QLocale::LongFormat))
            return true;
    return false;
}

LoopbackServer::LoopbackServer(quint16 port, const QHostAddress &address)
{
    listening = server.listen(address, port);
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            peers << socket;
            received.clear();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                if (socket == peer())
                    received += socket->readAll();
            });
        }
    });
}

void LoopbackServer::send(const QByteArray &bytes)
{
    peer()->write(bytes);
    peer()->flush();
}

frmClient &LoadPanel(const ProgramDir &dir, const QStringList &clientLines)
{
    dir.write(QStringLiteral("Client.cfg"), QStringList{QStringLiteral("[Client]")} + clientLines);
    return Forms::LoadClient();
}

void UnloadForms()
{
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ReceiveSeries(frmClient &form, const QList<Profile> &series)
{
    for (int i = 0; i < series.size(); ++i)
        form.ReceiveUserProfile(i + 1, series[i].name, series[i].password, series[i].resolution);
    form.ShowUserList();
}

} // namespace TestSupport
