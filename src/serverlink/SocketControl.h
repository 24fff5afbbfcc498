#pragma once

#include <QObject>
#include <QString>

class QTcpSocket;

// The side-link socket control: a TCP client with the operations, state values and events
// the main window relies on. Text crosses it as Latin-1, one byte per character.
class SocketControl : public QObject
{
    Q_OBJECT

public:
    enum StateValue : qint32 {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9,
    };

    // Replies waiting for a peer that does not read them: beyond this the link is closed, as
    // when the peer closes it.
    static constexpr qint64 MaxPendingOutput = 1024 * 1024;
    // Received bytes held for the program at most; the rest waits with the system.
    static constexpr qint64 ReadBufferSize = 64 * 1024;

    explicit SocketControl(QObject *parent = nullptr);
    ~SocketControl() override;

    // Starts a connection attempt and returns at once.
    void Connect(const QString &host, qint32 port);
    // Closes without raising Closed.
    void Close();
    // Raises VbError at once when the socket is not connected. When more than
    // MaxPendingOutput bytes wait for the peer, the link is closed, Closed raised from the
    // event loop, and the send fails all the same.
    void SendData(const QString &data);
    // Takes up to maxLength received bytes (all when negative).
    void GetData(QString &data, qint32 maxLength = -1);
    qint32 State() const;
    // Where the side link is to go, before it is opened: the host LocalIP looks towards.
    void SetRemoteHost(const QString &host) { m_remoteHost = host; }
    // The local address the side link uses, or would use towards the configured server.
    QString LocalIP() const;

signals:
    void Connected();
    // The peer closed the connection; never raised for our own Close.
    void Closed();
    void DataArrival(qint32 bytesTotal);
    void Error(qint32 number, const QString &description);

private:
    void dropSocket();
    void onStateChanged(int socketState);
    void onConnected();
    void onDisconnected();
    void onReadyRead();
    void onError(int socketError);
    void failLater(qint32 number, const QString &description);

    QTcpSocket *m_socket = nullptr;
    qint32 m_state = sckClosed;
    quint64 m_attempt = 0;  // counts Connect and Close, so late work of an old attempt is dropped
    QString m_remoteHost;   // the last host asked for, to find the local address towards it
    qint32 m_remotePort = 0;
    // What happened inside connectToHost, told once Connect has returned.
    bool m_inConnect = false;
    bool m_pendingConnected = false;
    bool m_pendingError = false;
    qint32 m_pendingErrorNumber = 0;
    QString m_pendingErrorDescription;
};
