#pragma once

#include "settings/ClientConfig.h"

#include <QSize>
#include <QString>

#include <optional>

class IMsRdpClient;
class IMsRdpClientAdvancedSettings2;
class IMsRdpClientNonScriptable;
class IMsTscSecuredSettings;

// The main window's fields as a connection takes them: the values its controls hold, and the
// resolution as its text (the operator may type one).
struct ConnectionEntry
{
    ClientConfig fields;
    QString resolution;
};

// The check of the entered connection and the preparation of a session control from it. The
// main window places and shows the windows; this class decides what the control is given.
class RemoteDesktopConnection
{
public:
    // A check the entry fails: the message shown, and the field that takes the focus after it.
    struct Refusal
    {
        QString message;
        std::optional<ClientKey> focus;
    };

    // Copies the fields, then checks the entry in order; the first failure, or none.
    std::optional<Refusal> Check(const ConnectionEntry &entry);
    // "Full-Screen", or a width and a height that read as 32-bit numbers, joined by " x "
    // (what follows a third part is ignored, as the desktop size takes the first two).
    static bool IsUsableResolution(const QString &resolution);

    // Copies the fields, then the desktop size and the full-screen choice of the resolution;
    // "Full-Screen" takes the screen's size in pixels.
    void ResolutionSize(const ConnectionEntry &entry, QSize screen, IMsTscSecuredSettings &secured);
    // The desktop size ResolutionSize chose, as numbers; raises VbError when it has none.
    QSize DesktopSize() const;
    // The performance, cache, compression and redirection settings from the check boxes
    // (checked means value 1).
    void ApplySettings(const ConnectionEntry &entry, IMsRdpClientAdvancedSettings2 &advanced) const;
    // The password (only when one is entered), server, user name and desktop size, then the
    // connect call.
    void Connect(const ConnectionEntry &entry, IMsRdpClient &control) const;

    // The copies of the fields, and the size ResolutionSize chose, as text.
    QString mServer;
    QString mUserName;
    QString mPassword;
    QString mResolution;
    QString mDesktopWidth;
    QString mDesktopHeight;
    // The control's non-scriptable interface, for the password.
    IMsRdpClientNonScriptable *mRdpNonScriptable = nullptr;

private:
    void copyFields(const ConnectionEntry &entry);
};
