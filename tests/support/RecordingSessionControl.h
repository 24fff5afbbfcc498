#pragma once

#include "SessionRecorder.h"
#include "client/SessionControl.h"
#include "client/SessionControlFactory.h"

// A session control that records what it is given and raises its events when a test says so.
class RecordingSessionControl : public SessionRecorder<SessionControl>
{
public:
    explicit RecordingSessionControl(QWidget *parent = nullptr) : SessionRecorder(parent) { instances().append(this); }
    ~RecordingSessionControl() override { instances().replace(instances().indexOf(this), nullptr); }

    // Every control made since the last install, oldest first; destroyed ones are nullptr.
    static QList<RecordingSessionControl *> &instances()
    {
        static QList<RecordingSessionControl *> list;
        return list;
    }
    static RecordingSessionControl *last() { return instances().isEmpty() ? nullptr : instances().constLast(); }
    // Every session window made from now on gets a RecordingSessionControl.
    static void install()
    {
        instances().clear();
        SessionControlFactory::Set([](QWidget *parent) { return new RecordingSessionControl(parent); });
    }

    void Disconnect() override { calls.append({QStringLiteral("Disconnect"), {}}); }
    void raiseConnected() { emit OnConnected(); }
    void raiseDisconnected(qint32 reason) { emit OnDisconnected(reason); }

protected:
    void setVisible(bool visible) override
    {
        calls.append({QStringLiteral("Visible"), visible});
        SessionControl::setVisible(visible);
    }
};
