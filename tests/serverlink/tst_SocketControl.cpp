// The side-link socket control against a real server on 127.0.0.1.
#include "serverlink/SocketControl.h"

#include "platform/ErrorNumbers.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

// A port nobody listens on: taken from the system, then given back.
quint16 refusedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

} // namespace

class tst_SocketControl : public QObject
{
    Q_OBJECT

    QTcpServer *m_server = nullptr;
    QTcpSocket *m_peer = nullptr; // the server's side of the last accepted link
    quint16 port() const { return m_server->serverPort(); }

    // Connects the control and waits until both sides see the link.
    bool connectUp(SocketControl &s)
    {
        s.Connect(kLoopback, port());
        if (!QTest::qWaitFor([&] { return s.State() == SocketControl::sckConnected && m_server->hasPendingConnections(); }, 10000))
            return false;
        m_peer = m_server->nextPendingConnection();
        return m_peer != nullptr;
    }

    static void sendRaises(SocketControl &s)
    {
        try {
            s.SendData(QStringLiteral("@#2#@"));
            QFAIL("SendData did not raise");
        } catch (const VbError &e) {
            QCOMPARE(e.number(), ErrorNumbers::SocketBadState.number);
            QCOMPARE(e.description(), QString::fromLatin1(ErrorNumbers::SocketBadState.description));
        }
    }

private slots:
    void init()
    {
        m_server = new QTcpServer(this);
        QVERIFY(m_server->listen(QHostAddress::LocalHost));
    }
    void cleanup() { delete m_server; }

    void connectReachesConnected_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("dotted address") << kLoopback;
        QTest::newRow("name") << QStringLiteral("localhost");
    }
    void connectReachesConnected()
    {
        QFETCH(QString, host);
        if (host != kLoopback) { // localhost may name ::1 first
            delete m_server;
            m_server = new QTcpServer(this);
            QVERIFY(m_server->listen(QHostAddress::Any));
        }
        SocketControl s;
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
        sendRaises(s); // never connected
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy errors(&s, &SocketControl::Error);
        s.Connect(host, port());
        QCOMPARE(connected.size(), 0); // the outcome is told later, from the event loop
        QVERIFY(s.State() != SocketControl::sckClosed && s.State() != SocketControl::sckError);
        QTRY_COMPARE(s.State(), qint32(SocketControl::sckConnected));
        QTRY_COMPARE(connected.size(), 1);
        QTRY_VERIFY(m_server->hasPendingConnections());
        QCOMPARE(errors.size(), 0);
    }

    void refusedConnectIsAnError()
    {
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy errors(&s, &SocketControl::Error);
        QSignalSpy closed(&s, &SocketControl::Closed);
        s.Connect(kLoopback, refusedPort());
        QCOMPARE(errors.size(), 0);
        QTRY_COMPARE(s.State(), qint32(SocketControl::sckError));
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first().at(0).toInt(), 10061);
        QVERIFY(!errors.first().at(1).toString().isEmpty());
        QCOMPARE(connected.size() + closed.size(), 0);
        sendRaises(s);
        s.Close();
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
    }

    void portOutOfRangeIsAnError_data()
    {
        QTest::addColumn<qint32>("port");
        QTest::newRow("negative") << -1;
        QTest::newRow("above 16 bits") << 65536 + 12559;
    }
    void portOutOfRangeIsAnError()
    {
        QFETCH(qint32, port);
        SocketControl s;
        QSignalSpy errors(&s, &SocketControl::Error);
        s.Connect(kLoopback, port);
        QCOMPARE(s.State(), qint32(SocketControl::sckError));
        QTRY_COMPARE(errors.size(), 1);
        QVERIFY(!m_server->hasPendingConnections()); // not cut down to a listening port
    }

    // Closed is raised only when the peer ends the link; after any end, sending raises at once.
    void closeAndSendAfterIt_data()
    {
        QTest::addColumn<QString>("who");
        QTest::addColumn<int>("closedEvents");
        QTest::newRow("peer closes") << "close" << 1;
        QTest::newRow("peer resets") << "reset" << 1;
        QTest::newRow("own close") << "own" << 0;
    }
    void closeAndSendAfterIt()
    {
        QFETCH(QString, who);
        QFETCH(int, closedEvents);
        SocketControl s;
        QSignalSpy closed(&s, &SocketControl::Closed);
        QSignalSpy errors(&s, &SocketControl::Error);
        QVERIFY(connectUp(s));
        QSignalSpy peerGone(m_peer, &QTcpSocket::disconnected);
        if (who == u"own") {
            s.Close();
            QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
            QVERIFY(peerGone.wait(10000));
            QCoreApplication::processEvents();
        } else {
            who == u"reset" ? m_peer->abort() : m_peer->disconnectFromHost();
            QTRY_COMPARE(closed.size(), 1);
            QVERIFY(s.State() != SocketControl::sckConnected);
        }
        QCOMPARE(closed.size(), closedEvents);
        QCOMPARE(errors.size(), 0);
        sendRaises(s);
        s.Close();
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
        QCOMPARE(closed.size(), closedEvents);
    }

    void latin1BytesBothWays()
    {
        QString text;
        QByteArray bytes;
        for (int c = 0; c < 256; ++c) {
            text.append(QChar(c));
            bytes.append(char(c));
        }
        SocketControl s;
        QVERIFY(connectUp(s));
        s.SendData(text + QStringLiteral("\u20AC")); // outside the code page: one byte as well
        QByteArray received;
        QTRY_VERIFY((received += m_peer->readAll()).size() >= 257);
        QCOMPARE(received.size(), 257);
        QCOMPARE(received.left(256), bytes);
        m_peer->write(bytes);
        QString got;
        QTRY_VERIFY([&] { QString part; s.GetData(part); got += part; return got.size() >= 256; }());
        QCOMPARE(got, text);
    }

    void dataArrivalCountsBytes()
    {
        SocketControl s;
        QSignalSpy arrival(&s, &SocketControl::DataArrival);
        QVERIFY(connectUp(s));
        m_peer->write("@#3#0#@");
        QVERIFY(arrival.wait(10000));
        QCOMPARE(arrival.last().at(0).toInt(), 7);
        QString part;
        s.GetData(part, 3);
        QCOMPARE(part, QStringLiteral("@#3"));
        m_peer->write("ab"); // the next arrival counts the unread rest too
        QTRY_COMPARE(arrival.size(), 2);
        QCOMPARE(arrival.last().at(0).toInt(), 6);
        s.GetData(part);
        QCOMPARE(part, QStringLiteral("#0#@ab"));
        s.GetData(part);
        QCOMPARE(part, QString());
    }

    // What a peer that never reads leaves waiting is bounded: beyond it the link is closed
    // as if by the peer. What arrives is held in bounded pieces too.
    void buffersAreBounded()
    {
        SocketControl s;
        qint64 mostArrived = 0, taken = 0;
        connect(&s, &SocketControl::DataArrival, this, [&](qint32 bytesTotal) {
            mostArrived = qMax<qint64>(mostArrived, bytesTotal);
            QString part;
            s.GetData(part);
            taken += part.size();
        });
        QSignalSpy closed(&s, &SocketControl::Closed);
        QVERIFY(connectUp(s));
        const QByteArray block(4 * SocketControl::ReadBufferSize, 'x');
        m_peer->write(block);
        QTRY_COMPARE(taken, block.size());
        QVERIFY(mostArrived <= SocketControl::ReadBufferSize);

        m_peer->setReadBufferSize(1); // from now on the peer reads nothing
        const QString reply(16 * 1024, QLatin1Char('r'));
        for (qint64 sent = 0; closed.isEmpty() && sent < 64 * SocketControl::MaxPendingOutput; sent += reply.size()) {
            s.SendData(reply);
            QCoreApplication::processEvents();
        }
        QCOMPARE(closed.size(), 1);
        sendRaises(s);
    }

    void lastDataBeforePeerCloseIsReadable()
    {
        SocketControl s;
        QString got;
        connect(&s, &SocketControl::DataArrival, this, [&](qint32) { QString part; s.GetData(part); got += part; });
        QSignalSpy closed(&s, &SocketControl::Closed);
        QVERIFY(connectUp(s));
        m_peer->write("@#13#2#@");
        m_peer->disconnectFromHost();
        QTRY_COMPARE(closed.size(), 1);
        QCOMPARE(got, QStringLiteral("@#13#2#@"));
    }

    void newConnectLeavesNoTraceOfTheOld()
    {
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy closed(&s, &SocketControl::Closed);
        QSignalSpy errors(&s, &SocketControl::Error);
        s.Connect(kLoopback, refusedPort()); // replaced at once: its refusal must not be heard
        QVERIFY(connectUp(s));
        QSignalSpy oldGone(m_peer, &QTcpSocket::disconnected);
        QVERIFY(connectUp(s)); // an open link replaced: the old peer sees its end, we hear nothing
        QVERIFY(oldGone.size() == 1 || oldGone.wait(10000));
        QTRY_COMPARE(connected.size(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(closed.size() + errors.size(), 0);
        s.SendData(QStringLiteral("x"));
        QByteArray received;
        QTRY_VERIFY(!(received += m_peer->readAll()).isEmpty());
        QCOMPARE(received, QByteArray("x"));
    }

    // The supervisor reconnects from the Closed handler and may close from DataArrival.
    void reconnectFromInsideClosed()
    {
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        connect(&s, &SocketControl::Closed, this, [&] { s.Close(); s.Connect(kLoopback, port()); });
        QVERIFY(connectUp(s));
        m_peer->disconnectFromHost();
        QTRY_COMPARE(connected.size(), 2);
        QCOMPARE(s.State(), qint32(SocketControl::sckConnected));
    }
    void closeFromInsideDataArrival()
    {
        SocketControl t;
        QSignalSpy closed(&t, &SocketControl::Closed);
        connect(&t, &SocketControl::DataArrival, this, [&](qint32) { t.Close(); });
        QVERIFY(connectUp(t));
        QSignalSpy peerGone(m_peer, &QTcpSocket::disconnected);
        m_peer->write("bye");
        QVERIFY(peerGone.wait(10000));
        QCOMPARE(t.State(), qint32(SocketControl::sckClosed));
        QCOMPARE(closed.size(), 0);
    }

    void localIpIsTheAddressTheLinkUses()
    {
        SocketControl s;
        const QHostAddress before(s.LocalIP());
        QVERIFY2(!before.isNull(), qPrintable(s.LocalIP()));
        QCOMPARE(before.protocol(), QAbstractSocket::IPv4Protocol);
        QVERIFY(connectUp(s));
        QCOMPARE(s.LocalIP(), m_peer->peerAddress().toString());
        s.Close();
        QCOMPARE(s.LocalIP(), kLoopback); // towards the last server, also once the link is down
    }
};

QTEST_GUILESS_MAIN(tst_SocketControl)
#include "tst_SocketControl.moc"
