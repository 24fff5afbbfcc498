#include "serverlink/SideLinkSupervisor.h"

#include "platform/Conversions.h"
#include "platform/Logging.h"
#include "serverlink/ServerAddress.h"
#include "serverlink/SideLinkView.h"
#include "serverlink/SocketControl.h"
#include "serverlink/StatusText.h"
#include "settings/modGlobClientVar.h"
#include "system/modSynchronousShell.h"

#include <QFileInfo>
#include <QTimer>

#include <limits>

using namespace modGlobClientVar;

namespace {

// The leading number of the port text; a value no port can have stays out of range, so the
// socket control refuses it as an attempt that failed.
qint32 portNumber(const QString &text)
{
    const double value = Conversions::RoundHalfEven(Conversions::Val(text));
    if (value < double(std::numeric_limits<qint32>::min()) || value > double(std::numeric_limits<qint32>::max()))
        return -1;
    return qint32(value);
}

// Switching on a timer that already runs leaves its rhythm alone.
void switchOn(QTimer &timer)
{
    if (!timer.isActive())
        timer.start();
}

} // namespace

SideLinkSupervisor::SideLinkSupervisor(SocketControl &socket, QTimer &timControl, SideLinkView &view, QObject *parent)
    : QObject(parent), mSocket(socket), mTimer(timControl), mView(view)
{
}

void SideLinkSupervisor::ConnectSideLink()
{
    if (mView.AutoConnect() != 1)
        return;
    const qint64 wait = mLastAttempt.isValid() ? AttemptPauseMs - mLastAttempt.elapsed() : 0;
    if (wait > 0) {
        // Asked again too soon: the attempt is made once the pause is over.
        if (!mAttemptDeferred) {
            mAttemptDeferred = true;
            QTimer::singleShot(wait, this, [this] {
                mAttemptDeferred = false;
                if (!mUnloaded)
                    ConnectSideLink();
            });
        }
        return;
    }
    mLastAttempt.start();

    mView.HideServerVersion();
    mView.setPanelText(1, StatusText::Stamped(QStringLiteral("Try to reconnect ")));
    mView.EnableServerButtons(false);
    mView.HideLockStatus();

    // The close is complete when Close returns; whatever the old socket still had to report
    // is dropped with it. The server field may carry the session's port: the side link has
    // its own.
    mSocket.Close();
    mFrameOnLink = false;
    const QString host = ServerAddress::Host(mView.ServerText());
    const qint32 port = portNumber(mView.PortText());
    qCInfo(lcSideLink) << "connecting to" << host << "port" << port;
    mSocket.Connect(host, port);

    switchOn(mTimer);
    mLifeCnt = gStartConnectLifeCnt;

    // The outcome arrives as Winsock_Connect or Winsock_Error.
    mAttemptPending = true;
}

void SideLinkSupervisor::timControl_Timer()
{
    if (mLifeCnt > 0) {
        --mLifeCnt;
        return;
    }
    ConnectSideLink();
}

void SideLinkSupervisor::SignOfLife()
{
    mLifeCnt = gStartLifeCnt;
}

void SideLinkSupervisor::Unload()
{
    mUnloaded = true;
    mTimer.stop();
    mSocket.Close();
}

void SideLinkSupervisor::connected()
{
    mAttemptPending = false;
    qCInfo(lcSideLink, "connected");
    mView.setPanelText(1, StatusText::Stamped(QStringLiteral("Connected ")));
    mLifeCnt = gStartLifeCnt;
    switchOn(mTimer);
}

void SideLinkSupervisor::failed()
{
    mAttemptPending = false;
    ++gTryConnectCount;
    qCInfo(lcSideLink, "connect failed, %d of %d before the failure action", int(gTryConnectCount),
           int(gTryConnectActionCnt));
    if (gTryConnectCount < gTryConnectActionCnt)
        return;

    // The user process is run from the event loop, not from inside the socket's error
    // report; the timer is off from here on, so no tick can come in between.
    gTryConnectCount = 0;
    mTimer.stop();
    mLifeCnt = gStartConnectLifeCnt;
    QTimer::singleShot(0, this, [this] { runFailureAction(); });
}

void SideLinkSupervisor::runFailureAction()
{
    QString program = gUserProcessName;
    if (!program.isEmpty() && QFileInfo(program).isFile()) {
        qCInfo(lcSideLink) << "running the failure action" << program;
        modSynchronousShell::RunProcessAndWait(program, -1);
    }
    if (mUnloaded)
        return;
    switchOn(mTimer);
    mLifeCnt = gStartConnectLifeCnt;
}

void SideLinkSupervisor::Winsock_Connect()
{
    gTryConnectCount = 0;
    emit LinkOpened();
    if (mAttemptPending && mSocket.State() == SocketControl::sckConnected)
        connected();
}

void SideLinkSupervisor::Winsock_Close()
{
    qCInfo(lcSideLink) << (mFrameOnLink ? "link closed" : "link closed before any frame");
    mView.setPanelText(1, QStringLiteral("Not Connected"));
    const bool quietAgain = mQuietClose && !mFrameOnLink;
    mQuietClose = !mFrameOnLink;
    if (quietAgain && mView.AutoConnect() == 1) {
        mLifeCnt = 0; // the next tick reopens the link
        switchOn(mTimer);
        return;
    }
    mTimer.stop();
    if (mView.AutoConnect() == 1)
        ConnectSideLink();
}

void SideLinkSupervisor::Winsock_Error(qint32 number, const QString &description)
{
    qCInfo(lcSideLink) << "socket error" << number << description;
    // The error itself changes nothing; it only settles an attempt that is waiting for it.
    if (mAttemptPending && mSocket.State() == SocketControl::sckError)
        failed();
}
