#pragma once

#include "client/SessionSettings.h"

#include <QString>
#include <QWidget>

// The session control: a remote desktop client hosted as a widget. The program writes its
// settings, calls Connect and reacts to OnConnected and OnDisconnected.

class SessionControl : public QWidget,
                       public IMsRdpClient,
                       public IMsTscSecuredSettings,
                       public IMsRdpClientAdvancedSettings2,
                       public IMsRdpClientNonScriptable
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    IMsTscSecuredSettings *SecuredSettings() { return this; }
    IMsRdpClientAdvancedSettings2 *AdvancedSettings3() { return this; }
    IMsRdpClientNonScriptable *NonScriptable() { return this; }

    // Ends the session or the attempt under way; OnDisconnected follows.
    virtual void Disconnect() = 0;

signals:
    // Once, when the session is established.
    void OnConnected();
    // Once at the end of every started session, and when a started attempt fails.
    void OnDisconnected(qint32 discReason);
};
