#pragma once

#include <QString>
#include <QtGlobal>

// What the program writes to a remote desktop client control and calls on it, apart from the
// control's window: its own properties and connect method, and its secured, advanced and
// non-scriptable settings. A setter that cannot take a value raises VbError at once.

class IMsRdpClient
{
public:
    virtual void setServer(const QString &value) = 0;
    virtual QString Server() const = 0;
    virtual void setUserName(const QString &value) = 0;
    virtual QString UserName() const = 0;
    virtual void setDesktopWidth(qint32 value) = 0;
    virtual qint32 DesktopWidth() const = 0;
    virtual void setDesktopHeight(qint32 value) = 0;
    virtual qint32 DesktopHeight() const = 0;
    // Returns at once; the outcome arrives as the control's OnConnected or OnDisconnected.
    virtual void Connect() = 0;

protected:
    ~IMsRdpClient() = default;
};

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
