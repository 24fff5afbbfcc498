#pragma once

#include <QString>
#include <QtGlobal>

// What the side link needs of the window that shows it: the fields it reads, what it shows,
// and the window's own operations that the server's orders run. The main window implements
// it. The operations raise VbError as the window's procedures do.
class SideLinkView
{
public:
    // "Connect to Server": 0 cleared, 1 checked, 2 grayed; only a checked box allows the link.
    virtual qint32 AutoConnect() const = 0;
    virtual QString ServerText() const = 0;
    virtual QString PortText() const = 0;

    // Panels 1 and 2 of the status bar.
    virtual void setPanelText(int panel, const QString &text) = 0;
    // The server's version beside its caption, both shown; or both hidden.
    virtual void ShowServerVersion(const QString &text) = 0;
    virtual void HideServerVersion() = 0;
    // Remote Desktop, Turn Off and Restart, the buttons that need the server.
    virtual void EnableServerButtons(bool enabled) = 0;
    // The lock lamp in a colour (a Windows RGB value), shown; or hidden.
    virtual void ShowLockStatus(qint32 colour) = 0;
    virtual void HideLockStatus() = 0;

    // The user profiles: profile Index in the fields; the whole list in place of the user-name
    // field; entry n of the list chosen (-1 none).
    virtual void ShowUserConfig(qint32 &Index) = 0;
    virtual void ShowUserList() = 0;
    virtual qint32 UserListCount() const = 0;
    virtual void SelectUser(qint32 entry) = 0;
    // Opens the remote desktop session with the fields as they are.
    virtual void ConnectToServer() = 0;
    // The remote desktop session: started (until it has ended), and connected.
    virtual bool RdpStarted() const = 0;
    virtual bool RdpConnected() const = 0;

protected:
    ~SideLinkView() = default;
};
