#pragma once

#include "client/SessionSettings.h"
#include "platform/ErrorNumbers.h"

#include <QList>
#include <QPair>
#include <QVariant>

#include <type_traits>

// A property that records each value it is given.
#define RECORDED(Type, Name)                                                                                           \
    void set##Name(std::conditional_t<std::is_same_v<Type, QString>, const QString &, Type> value) override            \
    {                                                                                                                  \
        record(#Name, value, m_##Name);                                                                                \
    }                                                                                                                  \
    Type Name() const override { return m_##Name; }                                                                    \
    Type m_##Name{};

// Records every setting and call of a session control in order; refuseSetting is refused as the real control
// refuses a value, notifyError fails the device notification.
template<typename Base>
class SessionRecorder : public Base
{
public:
    using Base::Base;
    using Call = QPair<QString, QVariant>;

    QList<Call> calls;
    QString refuseSetting;
    int notifyError = 0;

    RECORDED(QString, Server) RECORDED(QString, UserName)
    RECORDED(qint32, DesktopWidth) RECORDED(qint32, DesktopHeight) RECORDED(qint32, FullScreen)
    RECORDED(qint32, BitmapPeristence) RECORDED(qint32, Compress) RECORDED(qint32, PerformanceFlags)
    RECORDED(bool, RedirectDrives) RECORDED(bool, RedirectPorts) RECORDED(bool, RedirectPrinters)
    RECORDED(bool, RedirectSmartCards) RECORDED(bool, DisplayConnectionBar) RECORDED(bool, EnableAutoReconnect)
    void Connect() override { calls.append({QStringLiteral("Connect"), {}}); }
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
    QString m_password;
};

#undef RECORDED

// All of a session control's settings, without its window.
class SessionSettingsDouble : public IMsRdpClient,
                              public IMsTscSecuredSettings,
                              public IMsRdpClientAdvancedSettings2,
                              public IMsRdpClientNonScriptable
{
};
