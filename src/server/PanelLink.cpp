#include "server/PanelLink.h"

#include "platform/VbError.h"
#include "server/ServerLog.h"
#include "serverlink/SideLinkCommand.h"
#include "serverlink/VersionNumbers.h"

#include <QDateTime>
#include <QTcpSocket>

namespace {

QString plainFrame(SideLinkCommand command, qint32 argument)
{
    QString frame;
    modSocketCmd::BuildCommandFrame(SocketCmd{Number(command), argument}, frame);
    return frame;
}

// A computer name is at most 15 characters; a little more is let through, nothing unprintable.
bool usableName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 63 && modSocketCmd::ValueProblem(name).isEmpty() && name.trimmed() == name;
}

} // namespace

PanelLink::PanelLink(QTcpSocket *socket, qint32 serverVersion, QObject *parent)
    : QObject(parent), m_socket(socket), m_address(PlainAddress(socket->peerAddress())), m_serverVersion(serverVersion),
      m_opened(SteadyClock::ms()), m_lastHeard(m_opened)
{
    m_info.address = m_address.toString();
    m_info.link = QStringLiteral("identifying");
    socket->setParent(this);
    socket->setReadBufferSize(FrameStream::MaxFrame);
    connect(socket, &QIODevice::readyRead, this, &PanelLink::read);
    connect(socket, &QAbstractSocket::disconnected, this, [this] { close(QStringLiteral("closed by the panel")); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        close(error == QAbstractSocket::RemoteHostClosedError ? QStringLiteral("closed by the panel") : m_socket->errorString());
    });
}

void PanelLink::start()
{
    send(plainFrame(SideLinkCommand::IdentifyRequest, m_serverVersion));
    m_lifeSentUs = SteadyClock::us();
    send(plainFrame(SideLinkCommand::SignOfLifeRequest, 0));
    // Bytes may have come with the connection itself.
    read();
}

void PanelLink::round(qint64 silenceMs)
{
    if (!m_open)
        return;
    const qint64 now = SteadyClock::ms();
    if (now - m_lastHeard > silenceMs) {
        close(QStringLiteral("silent"));
        return;
    }
    // Answering without ever saying who it is would hold a link for nothing.
    if (m_info.name.isEmpty() && now - m_opened > silenceMs) {
        close(QStringLiteral("never identified itself"));
        return;
    }
    if (m_info.name.isEmpty() && ++m_identifyRounds >= 2) {
        m_identifyRounds = 0;
        send(plainFrame(SideLinkCommand::IdentifyRequest, m_serverVersion));
    }
    if (m_seriesRounds >= 0 && ++m_seriesRounds >= 2) {
        qCInfo(lcLink).noquote() << m_info.name << "did not acknowledge its profiles: sent again";
        sendSeries();
    }
    if (m_lifeSentUs < 0)
        m_lifeSentUs = SteadyClock::us();
    send(plainFrame(SideLinkCommand::SignOfLifeRequest, 0));
}

void PanelLink::setServerVersion(qint32 version)
{
    if (version == m_serverVersion)
        return;
    m_serverVersion = version;
    send(plainFrame(SideLinkCommand::IdentifyRequest, m_serverVersion));
}

void PanelLink::setPolicy(const PanelPolicy &policy)
{
    const bool changed = !m_policySet || policy.profiles != m_policy.profiles;
    m_policy = policy;
    m_policySet = true;
    m_info.profiles.clear();
    for (const ServerProfile &profile : policy.profiles)
        m_info.profiles.append(profile.name);
    if (changed)
        sendSeries();
}

void PanelLink::sendSeries()
{
    const qint32 count = qint32(m_policy.profiles.size());
    m_nextAck = 1;
    m_seriesRounds = count > 0 ? 0 : -1;
    if (count == 0) {
        qCInfo(lcLink).noquote() << m_info.name << "has no profiles";
        return;
    }
    for (qint32 n = 1; n <= count; ++n) {
        const ServerProfile &profile = m_policy.profiles.at(n - 1);
        QString frame;
        modSocketCmd::BuildUserFrame(n, RemoteUserData{count, profile.user, profile.password, profile.resolution}, frame);
        send(frame);
    }
    // The last profile of a series enables the panel's buttons: the lock must follow it.
    sendStatus();
}

void PanelLink::setStatus(qint32 argument, const RemoteConnectData &client)
{
    if (argument == m_statusArgument && client.Connect == m_statusClient.Connect && client.ClientName == m_statusClient.ClientName)
        return;
    m_statusArgument = argument;
    m_statusClient = client;
    sendStatus();
}

void PanelLink::sendStatus()
{
    if (m_statusArgument < 0)
        return;
    QString frame;
    modSocketCmd::BuildConnectFrame(m_statusArgument, m_statusClient, frame);
    send(frame);
}

void PanelLink::orderConnect(qint32 profile)
{
    m_info.profile = m_policy.profiles.value(profile - 1).name;
    send(plainFrame(SideLinkCommand::ConnectOrder, profile));
}

void PanelLink::orderExit(qint32 mode)
{
    send(plainFrame(SideLinkCommand::ExitOrder, mode));
}

void PanelLink::close(const QString &why)
{
    if (!m_open)
        return;
    m_open = false;
    m_info.link = QStringLiteral("down");
    qCInfo(lcLink).noquote() << "link" << m_address.toString() << m_info.name << "ends:" << why;
    m_socket->disconnect(this);
    m_socket->abort();
    emit closed(this);
}

void PanelLink::send(const QString &frame)
{
    if (!m_open)
        return;
    qCDebug(lcLink).noquote() << "->" << (m_info.name.isEmpty() ? m_address.toString() : m_info.name) << frame.section(u'#', 1, 1)
                              << frame.section(u'#', 3, 3);
    m_socket->write(frame.toLatin1());
    if (m_socket->bytesToWrite() > MaxPendingOutput)
        close(QStringLiteral("the panel reads nothing"));
}

void PanelLink::read()
{
    // Taken in pieces no larger than a frame may be, so that a flood costs only its own link.
    while (m_open && m_socket->bytesAvailable() > 0) {
        const QStringList frames = m_stream.append(m_socket->read(FrameStream::MaxFrame));
        for (const QString &frame : frames) {
            handle(frame);
            if (!m_open)
                return;
        }
    }
}

void PanelLink::handle(const QString &frame)
{
    SocketCmd command;
    try {
        command = modSocketCmd::ParseCommandFrame(frame);
    } catch (const VbError &) {
        qCDebug(lcLink).noquote() << "<-" << m_address.toString() << m_info.name << "a frame without its numbers, dropped";
        return;
    }
    if (command.Cmd == 0)
        return;
    qCDebug(lcLink).noquote() << "<-" << (m_info.name.isEmpty() ? m_address.toString() : m_info.name) << "cmd" << command.Cmd << "argument" << command.Argument;
    m_lastHeard = SteadyClock::ms();
    switch (SideLinkCommand(command.Cmd)) {
    case SideLinkCommand::SignOfLife: {
        if (m_lifeSentUs >= 0) {
            m_info.rttMs = double(SteadyClock::us() - m_lifeSentUs) / 1000.0;
            m_lifeSentUs = -1;
        }
        m_info.lastSeen = QDateTime::currentMSecsSinceEpoch();
        if (m_info.session > 0 && command.Argument == 0)
            m_info.profile.clear();
        m_info.session = command.Argument;
        if (!m_info.name.isEmpty())
            emit signOfLife(this);
        break;
    }
    case SideLinkCommand::Identity: {
        QString name;
        modSocketCmd::GetFieldValue(frame, QStringLiteral("ClientName:"), name);
        if (!usableName(name)) {
            qCInfo(lcLink).noquote() << "link" << m_address.toString() << "gave no usable name";
            return;
        }
        m_info.version = VersionNumbers::PanelVersionText(command.Argument);
        m_identifyRounds = 0;
        if (name == m_info.name)
            return;
        m_info.name = name;
        m_info.link = QStringLiteral("up");
        emit identified(this);
        break;
    }
    case SideLinkCommand::ProfileReceived:
        if (m_seriesRounds >= 0 && command.Argument == m_nextAck && ++m_nextAck > m_policy.profiles.size())
            m_seriesRounds = -1;
        break;
    case SideLinkCommand::ConnectionRequest:
        if (!m_info.name.isEmpty())
            emit connectionRequested(this, command.Argument);
        break;
    case SideLinkCommand::ExitRequest:
        if (!m_info.name.isEmpty())
            emit exitRequested(this, command.Argument);
        break;
    default:
        break; // the acknowledgement of a status, or a server's command sent back
    }
}
