#pragma once

#include <QString>
#include <QWidget>

// The session control: a remote desktop client hosted as a widget. The program writes its
// settings, calls Connect and reacts to OnConnected and OnDisconnected. A setter that
// cannot take a value raises VbError at once.

class IMsTscSecuredSettings
{
public:
    virtual void setFullScreen(qint32 value) = 0;
    virtual qint32 FullScreen() const = 0;

protected:
    ~IMsTscSecuredSettings() = default;
};

class IMsRdpClientAdvancedSettings2
{
public:
    virtual void setBitmapPeristence(qint32 value) = 0;
    virtual qint32 BitmapPeristence() const = 0;
    virtual void setCompress(qint32 value) = 0;
    virtual qint32 Compress() const = 0;
    virtual void setPerformanceFlags(qint32 value) = 0;
    virtual qint32 PerformanceFlags() const = 0;
    virtual void setRedirectDrives(bool value) = 0;
    virtual bool RedirectDrives() const = 0;
    virtual void setRedirectPorts(bool value) = 0;
    virtual bool RedirectPorts() const = 0;
    virtual void setRedirectPrinters(bool value) = 0;
    virtual bool RedirectPrinters() const = 0;
    virtual void setRedirectSmartCards(bool value) = 0;
    virtual bool RedirectSmartCards() const = 0;
    virtual void setDisplayConnectionBar(bool value) = 0;
    virtual bool DisplayConnectionBar() const = 0;
    virtual void setEnableAutoReconnect(bool value) = 0;
    virtual bool EnableAutoReconnect() const = 0;

protected:
    ~IMsRdpClientAdvancedSettings2() = default;
};

class IMsRdpClientNonScriptable
{
public:
    virtual void setClearTextPassword(const QString &value) = 0;
    // wParam and lParam of a device arrival (0x8000) or removal (0x8004); may raise VbError
    // while no session is connected.
    virtual void NotifyRedirectDeviceChange(quint32 wParam, qint32 lParam) = 0;

protected:
    ~IMsRdpClientNonScriptable() = default;
};

class SessionControl : public QWidget,
                       public IMsTscSecuredSettings,
                       public IMsRdpClientAdvancedSettings2,
                       public IMsRdpClientNonScriptable
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    virtual void setServer(const QString &value) = 0;
    virtual QString Server() const = 0;
    virtual void setUserName(const QString &value) = 0;
    virtual QString UserName() const = 0;
    virtual void setDesktopWidth(qint32 value) = 0;
    virtual qint32 DesktopWidth() const = 0;
    virtual void setDesktopHeight(qint32 value) = 0;
    virtual qint32 DesktopHeight() const = 0;

    IMsTscSecuredSettings *SecuredSettings() { return this; }
    IMsRdpClientAdvancedSettings2 *AdvancedSettings3() { return this; }
    IMsRdpClientNonScriptable *NonScriptable() { return this; }

    // Returns at once; the outcome arrives as OnConnected or OnDisconnected.
    virtual void Connect() = 0;
    // Ends the session or the attempt under way; OnDisconnected follows.
    virtual void Disconnect() = 0;

signals:
    // Once, when the session is established.
    void OnConnected();
    // Once at the end of every started session, and when a started attempt fails.
    void OnDisconnected(qint32 discReason);
};
