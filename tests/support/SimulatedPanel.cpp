#include "SimulatedPanel.h"

#include "Version.h"
#include "serverlink/VersionNumbers.h"

SimulatedPanel::SimulatedPanel(const QString &panelName, QObject *parent) : QObject(parent), name(panelName)
{
    connect(&socket, &QIODevice::readyRead, this, &SimulatedPanel::read);
}

void SimulatedPanel::send(SideLinkCommand command, qint32 argument)
{
    QString frame;
    modSocketCmd::BuildCommandFrame(SocketCmd{Number(command), argument}, frame);
    send(frame);
}

void SimulatedPanel::read()
{
    for (const QString &frame : m_stream.append(socket.readAll())) {
        const SocketCmd command = modSocketCmd::ParseCommandFrame(frame);
        if (keepFrames)
            frames << frame;
        ++m_counts[command.Cmd];
        m_last[command.Cmd] = frame;
        switch (SideLinkCommand(command.Cmd)) {
        case SideLinkCommand::SignOfLifeRequest:
            send(SideLinkCommand::SignOfLife, session);
            break;
        case SideLinkCommand::IdentifyRequest: {
            QString identity;
            modSocketCmd::BuildClientNameFrame(
                SocketCmd{Number(SideLinkCommand::Identity), VersionNumbers::PanelVersionNumber(Version::Major, Version::Minor, Version::Revision)},
                identity, name);
            send(identity);
            break;
        }
        case SideLinkCommand::UserProfile:
            if (acknowledge)
                send(SideLinkCommand::ProfileReceived, command.Argument);
            break;
        case SideLinkCommand::RemoteStatus:
            send(SideLinkCommand::RemoteStatusReceived, 0);
            break;
        default:
            break;
        }
        emit received(command.Cmd, command.Argument, frame);
    }
}
