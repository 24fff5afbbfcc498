#include "serverlink/SideLinkMessages.h"

#include "Version.h"
#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"
#include "platform/Logging.h"
#include "serverlink/SideLinkSupervisor.h"
#include "serverlink/SideLinkView.h"
#include "serverlink/SocketControl.h"
#include "serverlink/StatusText.h"
#include "serverlink/VersionNumbers.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include <QScopeGuard>

#include <memory>

using namespace modGlobClientVar;

namespace {

// Windows RGB values of the lock lamp.
constexpr qint32 kRed = 255;
constexpr qint32 kGreen = 65280;
constexpr qint32 kYellow = 65535;

} // namespace

SideLinkMessages::SideLinkMessages(SocketControl &socket, SideLinkSupervisor &supervisor, SideLinkView &view,
                                   QObject *parent)
    : QObject(parent), mSocket(socket), mSupervisor(supervisor), mView(view)
{
    // A frame left half-received by an earlier link must not swallow the first frame of the
    // next one: every link starts with an empty stream.
    connect(&supervisor, &SideLinkSupervisor::LinkOpened, this, [this] { mFrameStream.clear(); });
}

void SideLinkMessages::Winsock_DataArrival(qint32 bytesTotal)
{
    Q_UNUSED(bytesTotal); // everything that has arrived is taken, however much it is
    // A frame's handling may process pending events; bytes arriving meanwhile raise no second
    // arrival worth having: the running handling takes them once the frames before them are done.
    if (mHandlingData)
        return;
    mHandlingData = true;
    const auto done = qScopeGuard([this] { mHandlingData = false; });

    for (;;) {
        QString received;
        try {
            mSocket.GetData(received);
        } catch (const VbError &error) {
            mView.setPanelText(2, error.statusText());
            return;
        }
        if (received.isEmpty())
            return;
        const QStringList frames = mFrameStream.append(received.toLatin1());
        if (!frames.isEmpty())
            mSupervisor.FrameArrived();
        for (const QString &frame : frames)
            HandleFrame(frame);
    }
}

void SideLinkMessages::reply(const QString &frame)
{
    mSocket.SendData(frame);
}

void SideLinkMessages::HandleFrame(const QString &frame)
{
    try {
        const SocketCmd command = modSocketCmd::ParseCommandFrame(frame);
        // The number and argument only: other fields may hold a profile's password.
        qCInfo(lcSideLink, "received command %d, argument %d", int(command.Cmd), int(command.Argument));
        QString answer;

        switch (SideLinkCommand(command.Cmd)) {
        case SideLinkCommand::SignOfLifeRequest: {
            SocketCmd state{Number(SideLinkCommand::SignOfLife), 0};
            GetRdpState(state);
            modSocketCmd::BuildCommandFrame(state, answer);
            reply(answer);
            mView.setPanelText(1, StatusText::Stamped(QStringLiteral("SignOfLife ")));
            mSupervisor.SignOfLife();
            break;
        }

        case SideLinkCommand::IdentifyRequest: {
            if (command.Argument != 0)
                mView.ShowServerVersion(VersionNumbers::ServerVersionText(command.Argument));
            const SocketCmd identity{Number(SideLinkCommand::Identity),
                                     VersionNumbers::PanelVersionNumber(Version::Major, Version::Minor, Version::Revision)};
            modSocketCmd::BuildClientNameFrame(identity, answer, modSystemBasic::GetLocalComputerName());
            reply(answer);
            mView.setPanelText(1, StatusText::Stamped(QStringLiteral("MachineName")));
            mSupervisor.SignOfLife();
            break;
        }

        case SideLinkCommand::UserProfile: {
            const qint32 n = command.Argument;
            RemoteUserData profile;
            modSocketCmd::ParseUserFrame(frame, profile); // missing fields stay zero or empty
            ReceiveUserProfile(n, profile.Username, profile.Password, profile.Resolution);
            modSocketCmd::BuildCommandFrame(SocketCmd{Number(SideLinkCommand::ProfileReceived), n}, answer);
            reply(answer);
            mView.setPanelText(1, StatusText::Stamped(QStringLiteral("Get Remotedata")));
            mSupervisor.SignOfLife();
            if (n >= profile.NrOfUsers)
                mView.ShowUserList();
            break;
        }

        case SideLinkCommand::RemoteStatus: {
            RemoteConnectData status;
            modSocketCmd::ParseConnectFrame(frame, status); // missing fields: no client connected
            modSocketCmd::BuildCommandFrame(SocketCmd{Number(SideLinkCommand::RemoteStatusReceived), 0}, answer);
            reply(answer);
            mView.setPanelText(1, QStringLiteral("Remotestatus received"));
            mSupervisor.SignOfLife();
            const bool locked = (command.Argument & 1) != 0;
            mView.EnableServerButtons(!locked);
            const QString client = QStringLiteral("Client ") + status.ClientName + QStringLiteral(" connected!");
            if (locked) {
                mView.setPanelText(2, QStringLiteral("Locked : ")
                                          + (status.Connect ? client : QStringLiteral("No Client connected!")));
                mView.ShowLockStatus(kRed);
            } else if (!status.Connect) {
                mView.setPanelText(2, QStringLiteral("No Client connected!"));
                mView.ShowLockStatus(kGreen);
            } else {
                mView.setPanelText(2, client);
                mView.ShowLockStatus(kYellow);
            }
            break;
        }

        case SideLinkCommand::ConnectOrder: {
            qint32 n = command.Argument;
            const qint16 entry = Conversions::ToInt16(QVariant(qint64(n) - 1));
            // A list selection outside the entries (or "none", -1) is refused as an invalid value.
            if (entry < -1 || entry >= mView.UserListCount())
                ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
            mView.SelectUser(entry);
            mView.ShowUserConfig(n);
            mView.setPanelText(1, StatusText::Stamped(QStringLiteral("RemoteConnection")));
            mSupervisor.SignOfLife();
            mView.ConnectToServer();
            break;
        }

        case SideLinkCommand::ExitOrder:
            modSystemBasic::ShutdownSystem(command.Argument);
            break;

        default: // the panel's own commands coming back, or no command: nothing to do
            break;
        }
    } catch (const VbError &error) {
        qCInfo(lcSideLink) << "frame refused:" << error.statusText();
        mView.setPanelText(2, error.statusText());
    }
}

bool SideLinkMessages::Send(SideLinkCommand command, qint32 argument)
{
    QString frame;
    modSocketCmd::BuildCommandFrame(SocketCmd{Number(command), argument}, frame);
    try {
        mSocket.SendData(frame);
    } catch (const VbError &error) {
        qCInfo(lcSideLink) << "command" << Number(command) << "not sent:" << error.statusText();
        mView.setPanelText(2, error.statusText());
        return false;
    }
    qCInfo(lcSideLink, "sent command %d, argument %d", int(Number(command)), int(argument));
    return true;
}

void SideLinkMessages::GetRdpState(SocketCmd &command) const
{
    if (!mView.RdpStarted())
        command.Argument = 0;
    else
        command.Argument = mView.RdpConnected() ? 3 : 1;
}

void SideLinkMessages::ReceiveUserProfile(qint32 n, const QString &username, const QString &password,
                                          qint32 resolution)
{
    // A new series drops the previous list; a series whose start was never seen has none.
    if (n == 1)
        gUsersConfig = std::make_unique<clsUsersConfig>();
    if (!gUsersConfig)
        ErrorNumbers::raise(ErrorNumbers::ObjectNotSet);

    auto profile = std::make_shared<clsUserConfig>();
    profile->setUsername(username);
    profile->setPassword(password);
    profile->setResolution(resolution);

    // A name already held (in any case) is not held twice.
    gUsersConfig->Add(profile, profile->Username());

    qint32 index = n;
    mView.ShowUserConfig(index);
}
