#pragma once

#include "server/ServerConfig.h"
#include "serverlink/FrameStream.h"
#include "serverlink/modSocketCmd.h"

#include <QHostAddress>
#include <QObject>

class QTcpSocket;

// What the faces show of one panel.
struct PanelInfo
{
    QString name;
    QString address;
    QString version;  // the panel's, "1.20.18"; empty until it identified itself
    QString link;     // "identifying", "up" or "down"
    qint32 session = -1; // 0 none, 1 started, 3 connected; -1 not yet told
    QString profile;  // the profile it was last told to connect with, while that may hold
    QStringList profiles; // the names of the profiles it was given, in order
    qint64 lastSeen = 0; // its last sign of life, milliseconds since the epoch; 0 none
    double rttMs = -1;   // the round trip of that sign of life; -1 none
};

// One panel's side link: its socket, the conversation the panel expects of the server, and the
// bound on what waits for a panel that does not read. It reports to the fleet through signals
// and is told what to send; nothing else touches its socket.
class PanelLink : public QObject
{
    Q_OBJECT

public:
    // Replies waiting for a panel that does not read them: beyond this the link is closed.
    static constexpr qint64 MaxPendingOutput = 64 * 1024;

    // Takes the accepted socket.
    PanelLink(QTcpSocket *socket, qint32 serverVersion, QObject *parent = nullptr);
    // Greets the panel (identify request, sign-of-life request) and reads what it sent already.
    void start();

    const QHostAddress &address() const { return m_address; }
    const QString &name() const { return m_info.name; } // empty until identified
    qint32 session() const { return m_info.session; }
    // Kept as it changes, so that a fleet's list is quickly made.
    const PanelInfo &info() const { return m_info; }
    const PanelPolicy &policy() const { return m_policy; }

    // One sign-of-life round: a link silent, or not identified, for longer than silenceMs is
    // closed; what is not yet
    // answered or acknowledged after a whole round is sent again; then the sign-of-life request.
    void round(qint64 silenceMs);
    // Announces another server version: the panel identifies itself again.
    void setServerVersion(qint32 version);
    // The panel's profiles and permissions; a changed list goes out as a new series.
    void setPolicy(const PanelPolicy &policy);
    // The remote status: sent when it differs from what the panel was told last.
    void setStatus(qint32 argument, const RemoteConnectData &client);
    // Orders: connect with profile n (from 1), exit with a mode 0 to 3.
    void orderConnect(qint32 profile);
    void orderExit(qint32 mode);
    // Ends the link; closed follows at once.
    void close(const QString &why);

signals:
    void identified(PanelLink *link);
    void signOfLife(PanelLink *link);
    void connectionRequested(PanelLink *link, qint32 profile);
    void exitRequested(PanelLink *link, qint32 request);
    void closed(PanelLink *link);

private:
    void read();
    void handle(const QString &frame);
    void send(const QString &frame);
    void sendSeries();
    void sendStatus();

    QTcpSocket *m_socket;
    QHostAddress m_address;
    FrameStream m_stream;
    qint32 m_serverVersion;
    PanelInfo m_info;
    qint64 m_opened;          // steady milliseconds
    qint64 m_lastHeard;       // of the last frame understood
    qint64 m_lifeSentUs = -1; // steady microseconds of the request not yet answered
    PanelPolicy m_policy;
    bool m_policySet = false;
    qint32 m_nextAck = 1;      // the acknowledgement the series waits for
    int m_seriesRounds = -1;   // rounds since the series went out; -1 none out
    int m_identifyRounds = 0;  // rounds since the identify request, while unanswered
    qint32 m_statusArgument = -1; // what the panel was told last; -1 nothing yet
    RemoteConnectData m_statusClient;
    bool m_open = true;
};
