#pragma once

#include "server/ServerConfig.h"
#include "serverlink/modSocketCmd.h"

#include <QString>

// Who holds the server and whether a panel may connect. In exclusive mode one panel holds it
// from the grant while its sign of life shows a session, and until releaseAfter has passed
// since the grant or the last session it showed; in shared mode
// every request is granted and the last panel granted is the one the others are told of.
// Times are milliseconds on one steady clock.
class LockPolicy
{
public:
    void setMode(LockMode mode) { m_mode = mode; }
    LockMode mode() const { return m_mode; }
    void setReleaseAfter(qint64 ms) { m_releaseAfter = ms; }

    // A panel asks to connect, or is ordered to: whether it may. A panel granted holds the server.
    bool request(const QString &panel, qint64 now);
    // A panel's sign of life: 0 no session, 1 started, 3 connected. A panel whose link ended
    // shows no session.
    void signOfLife(const QString &panel, qint32 session, qint64 now);
    // Lets the server go once its holder has shown no session for long enough; true when it did.
    bool expire(qint64 now);

    const QString &holder() const { return m_holder; }
    bool locked() const { return m_mode == LockMode::Exclusive && !m_holder.isEmpty(); }
    // The remote status this panel is told: its argument (bit 0 locked) and the connected client.
    qint32 statusFor(const QString &panel, RemoteConnectData &client) const;

private:
    bool holds(const QString &panel) const { return !m_holder.isEmpty() && panel.compare(m_holder, Qt::CaseInsensitive) == 0; }

    LockMode m_mode = LockMode::Exclusive;
    qint64 m_releaseAfter = 30000;
    QString m_holder;
    qint64 m_sessionSeen = 0; // the grant, or the holder's last sign of life with a session
    bool m_inSession = false; // the holder's last sign of life showed one
};
