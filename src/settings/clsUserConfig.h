#pragma once

#include <QString>
#include <QtGlobal>

// One user profile received from the server. Nothing is validated.
class clsUserConfig
{
public:
    QString Username() const { return m_username; }
    void setUsername(const QString &value) { m_username = value; }
    QString Password() const { return m_password; }
    void setPassword(const QString &value) { m_password = value; }
    // Index into the main window's resolution list.
    qint32 Resolution() const { return m_resolution; }
    void setResolution(qint32 value) { m_resolution = value; }

private:
    QString m_username;
    QString m_password;
    qint32 m_resolution = 0;
};
