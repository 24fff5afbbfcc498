#include "server/LockPolicy.h"

bool LockPolicy::request(const QString &panel, qint64 now)
{
    if (locked() && !holds(panel))
        return false;
    m_holder = panel;
    m_sessionSeen = now;
    m_inSession = false;
    return true;
}

void LockPolicy::signOfLife(const QString &panel, qint32 session, qint64 now)
{
    if (!holds(panel))
        return;
    m_inSession = session != 0;
    if (m_inSession)
        m_sessionSeen = now;
}

bool LockPolicy::expire(qint64 now)
{
    if (m_holder.isEmpty() || m_inSession || now - m_sessionSeen < m_releaseAfter)
        return false;
    m_holder.clear();
    return true;
}

qint32 LockPolicy::statusFor(const QString &panel, RemoteConnectData &client) const
{
    client = RemoteConnectData{!m_holder.isEmpty(), m_holder};
    return locked() && !holds(panel) ? 1 : 0;
}
