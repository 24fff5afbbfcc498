#pragma once

#include "client/SessionSettings.h"

#include <QString>
#include <QWidget>

// The session control: a remote desktop client hosted as a widget. The program writes its
// settings, calls Connect and reacts to OnConnected and OnDisconnected.
//
// Where its session stands is the control's alone: State() tells it, StateChanged() each change,
// and every part of the program that needs it asks here. It leaves NotStarted with Connect and
// comes back to it, before OnDisconnected, when the session has ended.

class SessionControl : public QWidget,
                       public IMsRdpClient,
                       public IMsTscSecuredSettings,
                       public IMsRdpClientAdvancedSettings2,
                       public IMsRdpClientNonScriptable
{
    Q_OBJECT

public:
    enum class SessionState {
        NotStarted,   // no session, or the last one has ended
        Connecting,   // Connect called; the session is being established
        Connected,    // established (OnConnected has come)
        Reconnecting, // it broke and is being made again
        Ending,       // Disconnect called; its end is on the way
    };
    Q_ENUM(SessionState)

    using QWidget::QWidget;

    SessionState State() const { return m_state; }

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
    void StateChanged(SessionControl::SessionState state);

protected:
    void setState(SessionState state)
    {
        if (state == m_state)
            return;
        m_state = state;
        emit StateChanged(state);
    }

private:
    SessionState m_state = SessionState::NotStarted;
};
