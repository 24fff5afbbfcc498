#pragma once

#include "client/SessionSettings.h"
#include "platform/ErrorNumbers.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVariant>

// Records every setting written to a session control and every call, in order. A setting
// named in refuseSetting is refused as the real control refuses a value; notifyError makes the
// device notification fail as it does while no session is connected.
template<typename Base>
class SessionRecorder : public Base
{
public:
    using Base::Base;
    using Call = QPair<QString, QVariant>;

    QList<Call> calls;
    QString refuseSetting;
    int notifyError = 0;

    QStringList callNames() const
    {
        QStringList names;
        for (const Call &c : calls)
            names << c.first;
        return names;
    }

    void setServer(const QString &value) override { record("Server", value, m_server); }
    QString Server() const override { return m_server; }
    void setUserName(const QString &value) override { record("UserName", value, m_userName); }
    QString UserName() const override { return m_userName; }
    void setDesktopWidth(qint32 value) override { record("DesktopWidth", value, m_desktopWidth); }
    qint32 DesktopWidth() const override { return m_desktopWidth; }
    void setDesktopHeight(qint32 value) override { record("DesktopHeight", value, m_desktopHeight); }
    qint32 DesktopHeight() const override { return m_desktopHeight; }
    void Connect() override { calls.append({QStringLiteral("Connect"), {}}); }
    void setFullScreen(qint32 value) override { record("FullScreen", value, m_fullScreen); }
    qint32 FullScreen() const override { return m_fullScreen; }
    void setBitmapPeristence(qint32 value) override { record("BitmapPeristence", value, m_bitmap); }
    qint32 BitmapPeristence() const override { return m_bitmap; }
    void setCompress(qint32 value) override { record("Compress", value, m_compress); }
    qint32 Compress() const override { return m_compress; }
    void setPerformanceFlags(qint32 value) override { record("PerformanceFlags", value, m_perf); }
    qint32 PerformanceFlags() const override { return m_perf; }
    void setRedirectDrives(bool value) override { record("RedirectDrives", value, m_flags[0]); }
    bool RedirectDrives() const override { return m_flags[0]; }
    void setRedirectPorts(bool value) override { record("RedirectPorts", value, m_flags[1]); }
    bool RedirectPorts() const override { return m_flags[1]; }
    void setRedirectPrinters(bool value) override { record("RedirectPrinters", value, m_flags[2]); }
    bool RedirectPrinters() const override { return m_flags[2]; }
    void setRedirectSmartCards(bool value) override { record("RedirectSmartCards", value, m_flags[3]); }
    bool RedirectSmartCards() const override { return m_flags[3]; }
    void setDisplayConnectionBar(bool value) override { record("DisplayConnectionBar", value, m_flags[4]); }
    bool DisplayConnectionBar() const override { return m_flags[4]; }
    void setEnableAutoReconnect(bool value) override { record("EnableAutoReconnect", value, m_flags[5]); }
    bool EnableAutoReconnect() const override { return m_flags[5]; }
    void setClearTextPassword(const QString &value) override { record("ClearTextPassword", value, m_password); }
    void NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam) override
    {
        calls.append({QStringLiteral("NotifyRedirectDeviceChange"), QVariantList{wParam, lParam}});
        if (notifyError)
            throw VbError(notifyError, QStringLiteral("no session"));
    }

private:
    template<typename T>
    void record(const char *name, const T &value, T &field)
    {
        if (refuseSetting == QLatin1String(name))
            ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
        calls.append({QString::fromLatin1(name), QVariant::fromValue(value)});
        field = value;
    }

    QString m_server, m_userName, m_password;
    qint32 m_desktopWidth = 0, m_desktopHeight = 0, m_fullScreen = 0, m_bitmap = 0, m_compress = 0, m_perf = 0;
    bool m_flags[6] = {};
};

// All of a session control's settings, without its window.
class SessionSettingsDouble : public IMsRdpClient,
                              public IMsTscSecuredSettings,
                              public IMsRdpClientAdvancedSettings2,
                              public IMsRdpClientNonScriptable
{
};
