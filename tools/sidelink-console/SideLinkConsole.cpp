#include "SideLinkConsole.h"

#include "ConsoleCommand.h"
#include "FrameDescription.h"

#include "platform/VbError.h"
#include "serverlink/SideLinkCommand.h"
#include "serverlink/modSocketCmd.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>

SideLinkConsole::SideLinkConsole(Printer out, Printer err, QObject *parent)
    : QObject(parent), m_out(std::move(out)), m_err(std::move(err)), m_server(new QTcpServer(this)),
      m_auto(new QTimer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &SideLinkConsole::acceptPanels);
    connect(m_auto, &QTimer::timeout, this, &SideLinkConsole::sendSignOfLife);
}

SideLinkConsole::~SideLinkConsole()
{
    // The sockets are children; leave them without calling back into a half-destroyed console.
    for (auto &entry : m_panels)
        entry.first->disconnect(this);
}

bool SideLinkConsole::listen(const QHostAddress &address, quint16 port, QString &error)
{
    if (m_server->listen(address, port))
        return true;
    error = m_server->errorString();
    return false;
}

quint16 SideLinkConsole::port() const { return m_server->serverPort(); }

void SideLinkConsole::setAutoInterval(int seconds)
{
    if (seconds <= 0) {
        m_auto->stop();
        return;
    }
    m_auto->start(seconds * 1000);
}

bool SideLinkConsole::execute(const QString &line) { return execute(line, nullptr); }

bool SideLinkConsole::execute(const QString &line, QTcpSocket *only)
{
    const ConsoleCommand command = ConsoleCommands::Parse(line);
    if (!command.ok()) {
        m_err(QStringLiteral("error: ") + command.error);
        return false;
    }
    switch (command.kind) {
    case ConsoleCommand::Kind::Nothing:
        return true;
    case ConsoleCommand::Kind::Send: {
        if (m_panels.empty()) {
            m_err(QStringLiteral("error: no panel is connected; nothing sent"));
            return false;
        }
        QList<QTcpSocket *> targets;
        if (only)
            targets.append(only);
        else
            for (auto &entry : m_panels)
                targets.append(entry.first);
        for (QTcpSocket *socket : targets)
            for (const QString &frame : command.frames)
                sendFrame(socket, frame);
        return true;
    }
    case ConsoleCommand::Kind::Close: {
        if (m_panels.empty()) {
            m_err(QStringLiteral("error: no panel is connected"));
            return false;
        }
        QList<QTcpSocket *> sockets;
        for (auto &entry : m_panels)
            if (!only || entry.first == only)
                sockets.append(entry.first);
        for (QTcpSocket *socket : sockets) {
            print(QStringLiteral("closing the link to %1").arg(m_panels.at(socket).name));
            dropPanel(socket);
        }
        return true;
    }
    case ConsoleCommand::Kind::Auto:
        setAutoInterval(command.seconds);
        print(command.seconds ? QStringLiteral("sign of life every %1 s").arg(command.seconds)
                              : QStringLiteral("automatic sign of life off"));
        return true;
    case ConsoleCommand::Kind::Grant:
        if (command.request == QLatin1String("connect"))
            m_grantConnect = command.on;
        else
            m_grantExit = command.on;
        print(QStringLiteral("%1 requests: %2").arg(command.request,
                                                    command.on ? QStringLiteral("granted by the console")
                                                               : QStringLiteral("shown only")));
        return true;
    case ConsoleCommand::Kind::Panels:
        if (m_panels.empty())
            print(QStringLiteral("no panel connected"));
        for (auto &entry : m_panels)
            print(QStringLiteral("panel %1").arg(entry.second.name));
        return true;
    case ConsoleCommand::Kind::Help:
        for (const QString &helpLine : ConsoleCommands::Help().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            m_out(helpLine);
        return true;
    case ConsoleCommand::Kind::Quit:
        emit quitRequested();
        return true;
    }
    return true;
}

void SideLinkConsole::acceptPanels()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString name = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        m_panels.emplace(socket, Panel{name, {}});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readPanel(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_panels.count(socket)) {
                print(QStringLiteral("panel %1 closed the link").arg(m_panels.at(socket).name));
                dropPanel(socket);
            }
        });
        print(QStringLiteral("panel %1 connected").arg(name));
        for (const QString &line : m_onConnect)
            execute(line, socket);
        if (m_auto->isActive() && m_panels.count(socket))
            sendFrame(socket, ConsoleCommands::SignOfLifeFrame());
        // Bytes may have come with the connection itself.
        if (m_panels.count(socket) && socket->bytesAvailable())
            readPanel(socket);
    }
}

void SideLinkConsole::readPanel(QTcpSocket *socket)
{
    auto found = m_panels.find(socket);
    if (found == m_panels.end())
        return;
    const qsizetype before = found->second.stream.pending();
    const QByteArray bytes = socket->readAll();
    const QStringList frames = found->second.stream.append(bytes);
    const QString name = found->second.name;
    // Whatever went neither into a frame nor into the part held back was dropped as noise.
    qsizetype framed = 0;
    for (const QString &frame : frames)
        framed += frame.size();
    const qsizetype dropped = before + bytes.size() - found->second.stream.pending() - framed;
    if (dropped > 0)
        print(QStringLiteral("<- %1  (%2 bytes outside any frame dropped)").arg(name).arg(dropped));
    for (const QString &frame : frames) {
        print(QStringLiteral("<- %1  %2").arg(name, FrameDescription::Describe(frame)));
        m_out(QStringLiteral("             ") + frame);
        handleRequest(socket, frame);
        if (!m_panels.count(socket))
            return;
    }
}

void SideLinkConsole::handleRequest(QTcpSocket *socket, const QString &frame)
{
    SocketCmd command;
    try {
        command = modSocketCmd::ParseCommandFrame(frame);
    } catch (const VbError &) {
        return; // shown above as it is; nothing to answer
    }
    if (command.Cmd == Number(SideLinkCommand::ConnectionRequest)) {
        if (!m_grantConnect)
            print(QStringLiteral("   (not answered: type connect N, or grant connect on)"));
        else if (command.Argument < 1)
            print(QStringLiteral("   not granted: the panel chose no profile"));
        else
            sendFrame(socket, ConsoleCommands::ConnectFrame(command.Argument));
    } else if (command.Cmd == Number(SideLinkCommand::ExitRequest)) {
        if (!m_grantExit)
            print(QStringLiteral("   (not answered: type restart or shutdown force, or grant exit on)"));
        else if (command.Argument != 1 && command.Argument != 3)
            print(QStringLiteral("   not granted: unknown request"));
        else
            sendFrame(socket, ConsoleCommands::ExitFrame(command.Argument)); // 1 restart, 3 shut down
    }
}

void SideLinkConsole::sendFrame(QTcpSocket *socket, const QString &frame)
{
    auto found = m_panels.find(socket);
    if (found == m_panels.end())
        return;
    socket->write(frame.toLatin1());
    print(QStringLiteral("-> %1  %2").arg(found->second.name, FrameDescription::Describe(frame, true)));
}

void SideLinkConsole::sendSignOfLife()
{
    QList<QTcpSocket *> sockets;
    for (auto &entry : m_panels)
        sockets.append(entry.first);
    for (QTcpSocket *socket : sockets)
        sendFrame(socket, ConsoleCommands::SignOfLifeFrame());
}

void SideLinkConsole::dropPanel(QTcpSocket *socket)
{
    m_panels.erase(socket);
    socket->disconnect(this);
    socket->disconnectFromHost();
    socket->deleteLater();
}

void SideLinkConsole::print(const QString &text)
{
    m_out(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + text);
}
