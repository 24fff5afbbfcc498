#pragma once

#include "SessionRecorder.h"
#include "client/SessionControl.h"
#include "client/SessionControlFactory.h"

#include <QPointer>

// A session control that records what it is given and raises its events when a test says so.
class RecordingSessionControl : public SessionRecorder<SessionControl>
{
public:
    explicit RecordingSessionControl(QWidget *parent = nullptr) : SessionRecorder(parent) { s_last = this; }
    // The control made last since the last install, while it lives.
    static RecordingSessionControl *last() { return s_last; }
    // Every session window made from now on gets a RecordingSessionControl.
    static void install()
    {
        s_last = nullptr;
        SessionControlFactory::Set([](QWidget *parent) { return new RecordingSessionControl(parent); });
    }

    // Its state moves as a real control's does, its events when the test says so.
    void Connect() override { SessionRecorder::Connect(), setState(SessionState::Connecting); }
    void Disconnect() override
    {
        calls.append({QStringLiteral("Disconnect"), {}});
        if (State() != SessionState::NotStarted)
            setState(SessionState::Ending);
    }
    void raiseConnected()
    {
        if (State() == SessionState::Connecting)
            setState(SessionState::Connected);
        emit OnConnected();
    }
    void raiseDisconnected(qint32 reason) { setState(SessionState::NotStarted), emit OnDisconnected(reason); }

private:
    static inline QPointer<RecordingSessionControl> s_last;
};
