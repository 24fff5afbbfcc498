#include "serverlink/SocketControl.h"

#include "platform/ErrorNumbers.h"
#include "platform/Logging.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

namespace {

// The socket errors by the numbers the program's handlers have always been given.
qint32 errorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10051;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10043;
    default:
        return 10053;
    }
}

constexpr qint32 kOutOfRange = 40021;

} // namespace

SocketControl::SocketControl(QObject *parent) : QObject(parent) {}

SocketControl::~SocketControl()
{
    ++m_attempt;
    dropSocket();
}

void SocketControl::dropSocket()
{
    if (!m_socket)
        return;
    QTcpSocket *old = m_socket;
    m_socket = nullptr;
    // Nothing the old socket still does may reach the program.
    old->disconnect(this);
    if (old->state() == QAbstractSocket::ConnectedState)
        old->flush(); // what was sent just before the close still goes out
    old->abort();
    // It may be the sender of the signal being handled right now.
    old->deleteLater();
}

void SocketControl::Connect(const QString &host, qint32 port)
{
    const quint64 attempt = ++m_attempt;
    dropSocket();
    m_pendingConnected = false;
    m_pendingError = false;
    m_remoteHost = host;
    m_remotePort = port;

    if (port < 0 || port > 65535) {
        m_state = sckError;
        failLater(kOutOfRange, QStringLiteral("Argument is out of range"));
        return;
    }

    m_state = sckResolvingHost;
    auto *socket = new QTcpSocket(this);
    socket->setReadBufferSize(ReadBufferSize);
    m_socket = socket;
    connect(socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) { onStateChanged(s); });
    connect(socket, &QAbstractSocket::disconnected, this, &SocketControl::onDisconnected);
    connect(socket, &QIODevice::readyRead, this, &SocketControl::onReadyRead);
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) { onError(e); });

    // The outcome may be known before connectToHost returns (loopback); the program hears of
    // it from its event loop all the same, never from inside Connect.
    m_inConnect = true;
    socket->connectToHost(host, quint16(port));
    m_inConnect = false;
    if (attempt != m_attempt)
        return;
    if (m_pendingConnected) {
        m_pendingConnected = false;
        QTimer::singleShot(0, this, [this, attempt] {
            if (attempt == m_attempt && m_state == sckConnected)
                emit Connected();
        });
    }
    if (m_pendingError) {
        const qint32 number = m_pendingErrorNumber;
        const QString description = m_pendingErrorDescription;
        m_pendingError = false;
        QTimer::singleShot(0, this, [this, attempt, number, description] {
            if (attempt == m_attempt)
                emit Error(number, description);
        });
    }
}

void SocketControl::failLater(qint32 number, const QString &description)
{
    const quint64 attempt = m_attempt;
    QTimer::singleShot(0, this, [this, attempt, number, description] {
        if (attempt == m_attempt)
            emit Error(number, description);
    });
}

void SocketControl::Close()
{
    ++m_attempt;
    dropSocket();
    m_state = sckClosed;
}

void SocketControl::onStateChanged(int socketState)
{
    switch (QAbstractSocket::SocketState(socketState)) {
    case QAbstractSocket::HostLookupState:
        m_state = sckResolvingHost;
        break;
    case QAbstractSocket::ConnectingState:
        m_state = sckConnecting;
        break;
    case QAbstractSocket::ConnectedState:
        m_state = sckConnected;
        break;
    case QAbstractSocket::ClosingState:
        if (m_state == sckConnected)
            m_state = sckClosing;
        break;
    default:
        // The end of a link or an attempt is told by disconnected or errorOccurred.
        break;
    }
    if (QAbstractSocket::SocketState(socketState) == QAbstractSocket::ConnectedState)
        onConnected();
}

void SocketControl::onConnected()
{
    if (m_inConnect) {
        m_pendingConnected = true;
        return;
    }
    emit Connected();
}

void SocketControl::onDisconnected()
{
    // Only a link that was up can be closed by the other side; a failed attempt is an error.
    if (m_state != sckConnected && m_state != sckClosing)
        return;
    m_state = sckClosing;
    emit Closed();
}

void SocketControl::onReadyRead()
{
    if (!m_socket)
        return;
    const qint64 available = m_socket->bytesAvailable();
    if (available <= 0)
        return;
    emit DataArrival(qint32(qMin<qint64>(available, std::numeric_limits<qint32>::max())));
}

void SocketControl::onError(int socketError)
{
    const auto error = QAbstractSocket::SocketError(socketError);
    // The peer's close or reset of an open link is its Closed, not an error.
    if (error == QAbstractSocket::RemoteHostClosedError && (m_state == sckConnected || m_state == sckClosing))
        return;
    if (!m_socket)
        return;
    m_state = sckError;
    const qint32 number = errorNumber(error);
    const QString description = m_socket->errorString();
    if (m_inConnect) {
        m_pendingError = true;
        m_pendingErrorNumber = number;
        m_pendingErrorDescription = description;
        return;
    }
    emit Error(number, description);
}

void SocketControl::SendData(const QString &data)
{
    if (!m_socket || m_state != sckConnected)
        ErrorNumbers::raise(ErrorNumbers::SocketBadState);
    const QByteArray bytes = data.toLatin1();
    if (m_socket->write(bytes) != bytes.size())
        ErrorNumbers::raise(ErrorNumbers::SocketBadState);
    // Handed to the system as far as it takes them now; what is left waits for the peer.
    m_socket->flush();
    if (m_socket->bytesToWrite() <= MaxPendingOutput)
        return;
    qCInfo(lcSideLink, "the server reads no more: link closed with %lld bytes unsent",
           static_cast<long long>(m_socket->bytesToWrite()));
    const quint64 attempt = ++m_attempt;
    dropSocket();
    m_state = sckClosing;
    QTimer::singleShot(0, this, [this, attempt] {
        if (attempt == m_attempt)
            emit Closed();
    });
    // The data goes down with the link: the sender must not take it for sent.
    ErrorNumbers::raise(ErrorNumbers::SocketBadState);
}

void SocketControl::GetData(QString &data, qint32 maxLength)
{
    if (!m_socket) {
        data.clear();
        return;
    }
    const QByteArray bytes = maxLength < 0 ? m_socket->readAll() : m_socket->read(maxLength);
    data = QString::fromLatin1(bytes);
}

qint32 SocketControl::State() const
{
    return m_state;
}

QString SocketControl::LocalIP() const
{
    if (m_socket && m_state == sckConnected) {
        const QHostAddress local = m_socket->localAddress();
        if (!local.isNull())
            return local.toString();
    }

    // The route towards the server names the interface; a UDP "connection" sends nothing.
    const QHostAddress remote(m_remoteHost);
    if (!remote.isNull()) {
        QUdpSocket probe;
        const quint16 port = (m_remotePort > 0 && m_remotePort <= 65535) ? quint16(m_remotePort) : quint16(9);
        probe.connectToHost(remote, port);
        if (probe.state() == QAbstractSocket::ConnectedState && !probe.localAddress().isNull())
            return probe.localAddress().toString();
    }

    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.ip().isLoopback())
                return entry.ip().toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}
