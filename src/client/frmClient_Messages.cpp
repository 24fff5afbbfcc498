#include "client/frmClient.h"
#include "client/frmClient_Messages.h"

#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "Version.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>

#include <limits>

using namespace modGlobClientVar;

namespace frmClientMessages {

namespace {

qint32 checked32(qint64 value)
{
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        ErrorNumbers::raise(ErrorNumbers::Overflow);
    return static_cast<qint32>(value);
}

qint16 checked16(qint64 value)
{
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        ErrorNumbers::raise(ErrorNumbers::Overflow);
    return static_cast<qint16>(value);
}

// "#00": at least two digits, the sign in front.
QString twoDigits(qint32 value)
{
    const qint64 magnitude = value < 0 ? -qint64(value) : qint64(value);
    return (value < 0 ? QStringLiteral("-") : QString()) + QStringLiteral("%1").arg(magnitude, 2, 10, QLatin1Char('0'));
}

} // namespace

qint32 PanelVersionNumber(qint32 major, qint32 minor, qint32 revision)
{
    // Evaluated left to right as written; each step is checked on its own.
    qint32 number = checked32(qint64(major) * 1000000);
    number = checked32(qint64(number) + std::numeric_limits<qint32>::min());
    const qint16 minorPart = checked16(qint64(checked16(minor)) * 1000);
    number = checked32(qint64(number) + minorPart);
    return checked32(qint64(number) + revision);
}

QString ServerVersionText(qint32 v)
{
    // C++ division truncates towards zero and its remainder takes the dividend's sign.
    const qint32 build = v % 1000;
    const qint32 minor = (v / 1000) % 1000;
    const qint32 major = (v / 1000000) % 1000;
    return twoDigits(major) + QStringLiteral(".") + twoDigits(minor) + QStringLiteral(" Build: ") + QString::number(build);
}

} // namespace frmClientMessages

namespace {

// Windows RGB values of the lock lamp.
constexpr qint32 kRed = 255;
constexpr qint32 kGreen = 65280;
constexpr qint32 kYellow = 65535;

} // namespace

void frmClient::Winsock_DataArrival(qint32 bytesTotal)
{
    Q_UNUSED(bytesTotal); // everything that has arrived is taken, however much it is
    // A frame's handling may process pending events; bytes arriving meanwhile raise no second
    // arrival worth having: the running handling takes them once the frames before them are done.
    if (mHandlingData)
        return;
    mHandlingData = true;
    const auto done = qScopeGuard([this] { mHandlingData = false; });

    // The side link is a byte stream: frames that arrive together are all handled, in order,
    // and a frame split over several arrivals is handled once, when it is complete.
    for (;;) {
        QString received;
        try {
            Winsock->GetData(received);
        } catch (const VbError &error) {
            setPanelText(2, error.statusText());
            return;
        }
        if (received.isEmpty())
            return;
        const QStringList frames = mFrameStream.append(received.toLatin1());
        mFrameOnLink = mFrameOnLink || !frames.isEmpty();
        for (const QString &frame : frames)
            HandleFrame(frame);
    }
}

void frmClient::HandleFrame(const QString &frame)
{
    try {
        const SocketCmd command = modSocketCmd::ParseCommandFrame(frame);
        SocketCmd reply;
        QString answer;

        switch (command.Cmd) {
        case 2: // sign-of-life request
            reply.Cmd = 3;
            GetRdpState(reply);
            modSocketCmd::BuildCommandFrame(reply, answer);
            Winsock->SendData(answer);
            setPanelText(1, QStringLiteral("SignOfLife ") + LongTimeNow());
            mLifeCnt = gStartLifeCnt;
            break;

        case 4: // identify yourself, with the server's version
            if (command.Argument != 0) {
                lblServerVersion->setText(frmClientMessages::ServerVersionText(command.Argument));
                lblServerVersionLabel->setVisible(true);
                lblServerVersion->setVisible(true);
            }
            reply.Cmd = 5;
            reply.Argument = frmClientMessages::PanelVersionNumber(Version::Major, Version::Minor, Version::Revision);
            modSocketCmd::BuildClientNameFrame(reply, answer, modSystemBasic::GetLocalComputerName());
            Winsock->SendData(answer);
            setPanelText(1, QStringLiteral("MachineName") + LongTimeNow());
            mLifeCnt = gStartLifeCnt;
            break;

        case 6: { // one profile of a series
            const qint32 n = command.Argument;
            RemoteUserData profile;
            modSocketCmd::ParseUserFrame(frame, profile); // missing fields stay zero or empty
            ReceiveUserProfile(n, profile.Username, profile.Password, profile.Resolution);
            modSocketCmd::BuildCommandFrame(SocketCmd{7, n}, answer);
            Winsock->SendData(answer);
            setPanelText(1, QStringLiteral("Get Remotedata") + LongTimeNow());
            mLifeCnt = gStartLifeCnt;
            if (n < profile.NrOfUsers)
                break;
            ShowUserList();
            break;
        }

        case 8: { // remote status: lock state and connected client
            RemoteConnectData status;
            modSocketCmd::ParseConnectFrame(frame, status); // missing fields: no client connected
            modSocketCmd::BuildCommandFrame(SocketCmd{9, 0}, answer);
            Winsock->SendData(answer);
            setPanelText(1, QStringLiteral("Remotestatus received"));
            mLifeCnt = gStartLifeCnt;
            const bool locked = (command.Argument & 1) != 0;
            for (QPushButton *button : {cmdRemoteDesktop, cmdShutDown, cmdRestart})
                button->setEnabled(!locked);
            if (locked) {
                shpLockStatus->setFillColor(kRed);
                setPanelText(2, status.Connect ? QStringLiteral("Locked : Client ") + status.ClientName + QStringLiteral(" connected!")
                                             : QStringLiteral("Locked : No Client connected!"));
            } else if (!status.Connect) {
                shpLockStatus->setFillColor(kGreen);
                setPanelText(2, QStringLiteral("No Client connected!"));
            } else {
                shpLockStatus->setFillColor(kYellow);
                setPanelText(2, QStringLiteral("Client ") + status.ClientName + QStringLiteral(" connected!"));
            }
            if (shpLockStatus->isHidden())
                shpLockStatus->setVisible(true);
            break;
        }

        case 11: { // connect now with profile n
            qint32 n = command.Argument;
            const qint16 entry = Conversions::ToInt16(QVariant(qint64(n) - 1));
            // A list selection outside the entries (or "none", -1) is refused as an invalid value.
            if (entry < -1 || entry >= cboUsername->count())
                ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
            cboUsername->setCurrentIndex(entry);
            ShowUserConfig(n);
            setPanelText(1, QStringLiteral("RemoteConnection") + LongTimeNow());
            mLifeCnt = gStartLifeCnt;
            ConnectToServer();
            break;
        }

        case 13: // exit order: log off, restart or shut down
            modSystemBasic::ShutdownSystem(command.Argument);
            break;

        default: // the panel's own commands coming back, or no command: nothing to do
            break;
        }
    } catch (const VbError &error) {
        setPanelText(2, error.statusText());
    }
}
