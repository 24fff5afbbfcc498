#pragma once

#include "serverlink/FrameStream.h"
#include "serverlink/SideLinkCommand.h"
#include "serverlink/modSocketCmd.h"

#include <QTcpSocket>

// A panel's side of the link as the protocol has it, without a window: answers the sign of
// life with its session state, the identify request with its name, acknowledges profiles and
// remote status; keeps every frame it received, unless told not to.
class SimulatedPanel : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedPanel(const QString &name, QObject *parent = nullptr);
    void connectTo(quint16 port, const QHostAddress &address = QHostAddress::LocalHost) { socket.connectToHost(address, port); }
    void send(const QString &frame) { socket.write(frame.toLatin1()); }
    void send(SideLinkCommand command, qint32 argument);
    // How many frames of a command it received, and the last one.
    int count(SideLinkCommand command) const { return m_counts.value(Number(command)); }
    QString last(SideLinkCommand command) const { return m_last.value(Number(command)); }

    QString name;
    qint32 session = 0;       // answered to a sign-of-life request
    bool acknowledge = true;  // profiles
    bool keepFrames = true;
    QStringList frames;
    QTcpSocket socket;

signals:
    void received(qint32 cmd, qint32 argument, const QString &frame);

private:
    void read();

    FrameStream m_stream;
    QHash<qint32, int> m_counts;
    QHash<qint32, QString> m_last;
};
