#pragma once

#include <QElapsedTimer>
#include <QObject>

class QTimer;
class SideLinkView;
class SocketControl;

// Opens the side link, watches it through a countdown that the server's messages refill,
// reopens it when the countdown runs out or the server closes it, and after a number of
// failed attempts runs the user process. Its handlers are the window's: the window calls
// them for the socket's events and the control timer's ticks.
//
// An attempt is not waited for in a loop: ConnectSideLink starts it and marks it pending; the
// socket's Connect or Error event settles it. An attempt that never settles is replaced by the
// next ConnectSideLink of the control timer, once the countdown has run down: the socket
// control drops the old connection and everything it would still report. So a silent server
// costs one socket at a time, however long it stays silent.
//
// Attempts are paced: at most one per AttemptPauseMs, and a link that closes again before any
// frame arrived on it is reopened on the next tick rather than at once, so a server that takes
// every connection and closes it costs about one attempt a tick.
class SideLinkSupervisor : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 AttemptPauseMs = 10;

    SideLinkSupervisor(SocketControl &socket, QTimer &timControl, SideLinkView &view, QObject *parent = nullptr);

    void ConnectSideLink();
    void timControl_Timer();
    void Winsock_Connect();
    void Winsock_Close();
    void Winsock_Error(qint32 number, const QString &description);

    // Control-timer ticks left before ConnectSideLink runs again.
    qint32 LifeCnt() const { return mLifeCnt; }
    void setLifeCnt(qint32 ticks) { mLifeCnt = ticks; }
    // The server acted on a message: the countdown starts again from gStartLifeCnt.
    void SignOfLife();
    // A frame arrived on the link now open.
    void FrameArrived() { mFrameOnLink = true; }
    // The window goes: the timer stops, the link closes, and nothing starts them again.
    void Unload();

signals:
    // A new link is up.
    void LinkOpened();

private:
    void connected();
    void failed();
    void runFailureAction();

    SocketControl &mSocket;
    QTimer &mTimer;
    SideLinkView &mView;
    qint32 mLifeCnt = 0;
    bool mAttemptPending = false;
    QElapsedTimer mLastAttempt;  // since the last attempt began
    bool mAttemptDeferred = false; // an attempt waits for the pause between attempts
    bool mFrameOnLink = false;   // a frame arrived on the link now open
    bool mQuietClose = false;    // the last link closed before any frame arrived on it
    bool mUnloaded = false;
};
