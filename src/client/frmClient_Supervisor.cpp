#include "client/frmClient.h"

#include "client/VbControls.h"
#include "platform/Conversions.h"
#include "serverlink/ServerAddress.h"
#include "serverlink/SocketControl.h"
#include "startup/modGlobClientVar.h"
#include "system/modSynchronousShell.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTime>
#include <QTimer>

#include <limits>

using namespace modGlobClientVar;

// The side link is supervised without waiting in a loop: ConnectSideLink starts an attempt
// and marks it pending; the socket's Connect or Error event settles it. An attempt that never
// settles is simply replaced by the next ConnectSideLink of the control timer, once mLifeCnt
// has run down: the socket control drops the old connection and everything it would still
// report, and the one pending mark now stands for the new attempt. So a silent server costs
// one socket at a time, however long it stays silent.
//
// Attempts are paced: at most one per kAttemptPauseMs, and a link that closes again before
// any frame arrived on it is reopened on the next tick rather than at once, so a server that
// takes every connection and closes it costs about one attempt a tick.

namespace {

constexpr qint64 kAttemptPauseMs = 10;

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
void switchOn(QTimer *timer)
{
    if (!timer->isActive())
        timer->start();
}

} // namespace

QString frmClient::LongTimeNow()
{
    return QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
}

void frmClient::ConnectSideLink()
{
    if (chkAutoConnect->Value() != 1)
        return;
    const qint64 wait = mLastAttempt.isValid() ? kAttemptPauseMs - mLastAttempt.elapsed() : 0;
    if (wait > 0) {
        // Asked again too soon: the attempt is made once the pause is over.
        if (!mAttemptDeferred) {
            mAttemptDeferred = true;
            QTimer::singleShot(wait, this, [this] {
                mAttemptDeferred = false;
                if (!mUnloading)
                    ConnectSideLink();
            });
        }
        return;
    }
    mLastAttempt.start();

    lblServerVersionLabel->setVisible(false);
    lblServerVersion->setVisible(false);
    setPanelText(1, QStringLiteral("Try to reconnect ") + LongTimeNow());
    cmdRemoteDesktop->setEnabled(false);
    cmdShutDown->setEnabled(false);
    cmdRestart->setEnabled(false);
    shpLockStatus->setVisible(false);

    // The close is complete when Close returns; whatever the old socket still had to report
    // is dropped with it. The server field may carry the session's port: the side link has
    // its own.
    Winsock->Close();
    mFrameOnLink = false;
    Winsock->Connect(ServerAddress::Host(txtServer->text()), portNumber(txtPort->text()));

    switchOn(timControl);
    mLifeCnt = gStartConnectLifeCnt;

    // The outcome arrives as Winsock_Connect or Winsock_Error.
    mAttemptPending = true;
}

void frmClient::sideLinkConnected()
{
    mAttemptPending = false;
    setPanelText(1, QStringLiteral("Connected ") + LongTimeNow());
    mLifeCnt = gStartLifeCnt;
    switchOn(timControl);
}

void frmClient::sideLinkFailed()
{
    mAttemptPending = false;
    ++gTryConnectCount;
    if (gTryConnectCount < gTryConnectActionCnt)
        return;

    // The user process is run from the event loop, not from inside the socket's error
    // report; the timer is off from here on, so no tick can come in between.
    gTryConnectCount = 0;
    timControl->stop();
    mLifeCnt = gStartConnectLifeCnt;
    QTimer::singleShot(0, this, [this] { runFailureAction(); });
}

void frmClient::runFailureAction()
{
    QString program = gUserProcessName;
    if (!program.isEmpty() && QFileInfo(program).isFile()) {
        modSynchronousShell::RunProcessAndWait(program, -1);
    }
    if (mUnloading)
        return;
    switchOn(timControl);
    mLifeCnt = gStartConnectLifeCnt;
}

void frmClient::Winsock_Connect()
{
    gTryConnectCount = 0;
    // A frame left half-received by an earlier link must not swallow the first frame of the
    // next one: every connection starts with an empty stream.
    mFrameStream.clear();
    if (mAttemptPending && Winsock->State() == SocketControl::sckConnected)
        sideLinkConnected();
}

void frmClient::Winsock_Close()
{
    setPanelText(1, QStringLiteral("Not Connected"));
    const bool quietAgain = mQuietClose && !mFrameOnLink;
    mQuietClose = !mFrameOnLink;
    if (quietAgain && chkAutoConnect->Value() == 1) {
        mLifeCnt = 0; // the next tick reopens the link
        switchOn(timControl);
        return;
    }
    timControl->stop();
    if (chkAutoConnect->Value() == 1)
        ConnectSideLink();
}

void frmClient::Winsock_Error(qint32, const QString &)
{
    // The error itself changes nothing; it only settles an attempt that is waiting for it.
    if (mAttemptPending && Winsock->State() == SocketControl::sckError)
        sideLinkFailed();
}
