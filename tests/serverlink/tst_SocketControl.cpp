// The side-link socket control against a real server on 127.0.0.1.
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"

#include "TestSupport.h"

#include <QSignalSpy>

namespace {

const QString kLoopback = QStringLiteral("127.0.0.1");

} // namespace

class tst_SocketControl : public QObject
{
    Q_OBJECT

    QTcpServer *m_server = nullptr;
    QTcpSocket *m_peer = nullptr; // the server's side of the last accepted link

    // Connects the control and waits until both sides see the link.
    bool connectUp(SocketControl &s)
    {
        s.Connect(kLoopback, m_server->serverPort());
        if (!QTest::qWaitFor([&] { return s.State() == SocketControl::sckConnected && m_server->hasPendingConnections(); }))
            return false;
        m_peer = m_server->nextPendingConnection();
        return m_peer != nullptr;
    }

    static int sendError(SocketControl &s)
    {
        return TestSupport::errorOf([&] { s.SendData(QStringLiteral("@#2#@")); });
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
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number); // never connected
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy errors(&s, &SocketControl::Error);
        s.Connect(host, m_server->serverPort());
        QCOMPARE(connected.size(), 0); // the outcome is told later, from the event loop
        QVERIFY(s.State() != SocketControl::sckClosed && s.State() != SocketControl::sckError);
        // Not yet connected: a send is refused at once rather than held back.
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        QTRY_COMPARE(s.State(), qint32(SocketControl::sckConnected));
        QTRY_COMPARE(connected.size(), 1);
        QTRY_VERIFY(m_server->hasPendingConnections());
        QCOMPARE(errors.size(), 0);
    }

    // Refused, and ports no TCP port can be; never cut down to a port that listens.
    void failedAttempts_data()
    {
        QTest::addColumn<qint32>("port");
        QTest::addColumn<qint32>("error");
        QTest::newRow("refused") << qint32(TestSupport::refusingPort()) << 10061;
        QTest::newRow("negative") << -1 << 40021;
        QTest::newRow("above 16 bits") << 65536 + 12559 << 40021;
    }
    void failedAttempts()
    {
        QFETCH(qint32, port);
        SocketControl s;
        QSignalSpy errors(&s, &SocketControl::Error);
        QSignalSpy other(&s, &SocketControl::Connected);
        s.Connect(kLoopback, port);
        QCOMPARE(errors.size(), 0);
        QTRY_COMPARE(errors.size() + other.size(), 1);
        QCOMPARE(s.State(), qint32(SocketControl::sckError));
        QTEST(errors.first().at(0).toInt(), "error");
        QVERIFY(!errors.first().at(1).toString().isEmpty());
        QVERIFY(!m_server->hasPendingConnections());
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        s.Close();
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
    }

    void largestPortIsTried()
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 65535))
            QSKIP("port 65535 is taken on this machine");
        SocketControl s;
        s.Connect(kLoopback, 65535);
        QTRY_COMPARE(s.State(), qint32(SocketControl::sckConnected));
    }

    // Closed is raised only when the peer ends the link; after any end, sending raises at once.
    void closeAndSendAfterIt_data()
    {
        QTest::addColumn<QString>("who");
        QTest::addColumn<int>("closedEvents");
        QTest::newRow("peer closes") << "close" << 1;
        QTest::newRow("peer resets") << "reset" << 1;
        QTest::newRow("own close") << "own" << 0;
        QTest::newRow("own close inside DataArrival") << "arrival" << 0;
    }
    void closeAndSendAfterIt()
    {
        QFETCH(QString, who);
        QFETCH(int, closedEvents);
        SocketControl s;
        QSignalSpy closed(&s, &SocketControl::Closed);
        QSignalSpy errors(&s, &SocketControl::Error);
        connect(&s, &SocketControl::DataArrival, this, [&](qint32) { s.Close(); });
        QVERIFY(connectUp(s));
        QSignalSpy peerGone(m_peer, &QTcpSocket::disconnected);
        if (who == u"own" || who == u"arrival") {
            if (who == u"own")
                s.Close();
            else
                m_peer->write("bye");
            QVERIFY(peerGone.wait());
            QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
            QCoreApplication::processEvents();
        } else {
            who == u"reset" ? m_peer->abort() : m_peer->disconnectFromHost();
            QTRY_COMPARE(closed.size(), 1);
            QVERIFY(s.State() != SocketControl::sckConnected);
        }
        QCOMPARE(closed.size(), closedEvents);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        s.Close();
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
        QVERIFY(arrival.wait());
        QCOMPARE(arrival.last().at(0).toInt(), 7);
        QString part;
        s.GetData(part, 3);
        QCOMPARE(part, QStringLiteral("@#3"));
        m_peer->write("ab"); // the next arrival counts the unread rest too
        QTRY_COMPARE(arrival.size(), 2);
        QCOMPARE(arrival.last().at(0).toInt(), 6);
        s.GetData(part);
        QCOMPARE(part, QStringLiteral("#0#@ab"));
    }

    // What a peer that never reads leaves waiting is bounded: beyond it the link is closed
    // as if by the peer. What arrives is held in bounded pieces too; the last bytes before
    // the peer's close are read.
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
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);

        SocketControl t;
        QVERIFY(connectUp(t));
        QString got;
        connect(&t, &SocketControl::DataArrival, this, [&](qint32) { QString part; t.GetData(part); got += part; });
        QSignalSpy tClosed(&t, &SocketControl::Closed);
        m_peer->write("@#13#2#@");
        m_peer->disconnectFromHost();
        QTRY_COMPARE(tClosed.size(), 1);
        QCOMPARE(got, QStringLiteral("@#13#2#@"));
    }

    // A new Connect drops the old attempt or link without a word from it; the supervisor
    // reconnects from inside Closed.
    void newConnectLeavesNoTraceOfTheOld()
    {
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy closed(&s, &SocketControl::Closed);
        QSignalSpy errors(&s, &SocketControl::Error);
        s.Connect(kLoopback, TestSupport::refusingPort()); // replaced at once: its refusal must not be heard
        QVERIFY(connectUp(s));
        QSignalSpy oldGone(m_peer, &QTcpSocket::disconnected);
        QVERIFY(connectUp(s));
        QVERIFY(oldGone.size() == 1 || oldGone.wait());
        QTRY_COMPARE(connected.size(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(closed.size() + errors.size(), 0);
        s.SendData(QStringLiteral("x"));
        QByteArray received;
        QTRY_COMPARE(received += m_peer->readAll(), QByteArray("x"));

        connect(&s, &SocketControl::Closed, this, [&] { s.Close(); s.Connect(kLoopback, m_server->serverPort()); });
        m_peer->disconnectFromHost();
        QTRY_COMPARE(connected.size(), 3);
        QCOMPARE(s.State(), qint32(SocketControl::sckConnected));
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
