// The side-link socket control against a real server on 127.0.0.1.
#include "platform/ErrorNumbers.h"
#include "serverlink/SocketControl.h"

#include "TestSupport.h"

#include <QSignalSpy>

class tst_SocketControl : public QObject
{
    Q_OBJECT

    const QString kLoopback = QStringLiteral("127.0.0.1");
    std::unique_ptr<QTcpServer> m_server;
    QTcpSocket *m_peer = nullptr; // the server's side of the last accepted link

    // Connects the control and waits until both sides see the link.
    bool connectUp(SocketControl &s)
    {
        s.Connect(kLoopback, m_server->serverPort());
        if (!QTest::qWaitFor([&] { return s.State() == SocketControl::sckConnected && m_server->hasPendingConnections(); }))
            return false;
        return (m_peer = m_server->nextPendingConnection());
    }
    static int sendError(SocketControl &s) { return TestSupport::errorOf([&] { s.SendData(QStringLiteral("@#2#@")); }); }

private slots:
    void init()
    {
        m_server = std::make_unique<QTcpServer>();
        QVERIFY(m_server->listen(QHostAddress::LocalHost));
    }

    // The outcome is told later, from the event loop; meanwhile a send is refused at once.
    void connectReachesConnected()
    {
        SocketControl s;
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        QSignalSpy connected(&s, &SocketControl::Connected), errors(&s, &SocketControl::Error);
        s.Connect(kLoopback, m_server->serverPort());
        QVERIFY(connected.isEmpty() && s.State() != SocketControl::sckClosed && s.State() != SocketControl::sckError);
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        QTRY_COMPARE(connected.size(), 1);
        QCOMPARE(s.State(), qint32(SocketControl::sckConnected));
        QVERIFY(errors.isEmpty());
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
        s.Connect(kLoopback, port);
        QVERIFY(errors.isEmpty());
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(s.State(), qint32(SocketControl::sckError));
        QTEST(errors.first().at(0).toInt(), "error");
        QVERIFY(!m_server->hasPendingConnections());
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        errors.clear(); // the largest port is tried: refused or taken, never out of range
        s.Connect(kLoopback, 65535);
        QTRY_VERIFY(s.State() == SocketControl::sckConnected || !errors.isEmpty());
        QVERIFY(errors.isEmpty() || errors.first().at(0).toInt() != 40021);
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
        QSignalSpy closed(&s, &SocketControl::Closed), errors(&s, &SocketControl::Error);
        connect(&s, &SocketControl::DataArrival, this, [&](qint32) { s.Close(); });
        QVERIFY(connectUp(s));
        QSignalSpy peerGone(m_peer, &QTcpSocket::disconnected);
        if (who == u"close" || who == u"reset") {
            who == u"reset" ? m_peer->abort() : m_peer->disconnectFromHost();
            QTRY_COMPARE(closed.size(), 1);
        } else {
            who == u"own" ? s.Close() : void(m_peer->write("bye"));
            QVERIFY(peerGone.wait());
            QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
            QCoreApplication::processEvents();
        }
        QVERIFY(s.State() != SocketControl::sckConnected && errors.isEmpty());
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        s.Close();
        QCOMPARE(closed.size(), closedEvents);
    }

    // One byte per character both ways; each arrival counts what is there, read or not.
    void bytesAndArrivals()
    {
        QString text;
        QByteArray bytes;
        for (int c = 0; c < 256; ++c)
            text.append(QChar(c)), bytes.append(char(c));
        SocketControl s;
        QSignalSpy arrival(&s, &SocketControl::DataArrival);
        QVERIFY(connectUp(s));
        s.SendData(text);
        QByteArray received;
        QTRY_COMPARE(received += m_peer->readAll(), bytes);
        m_peer->write(bytes);
        QTRY_COMPARE(arrival.last().at(0).toInt(), 256);
        QString part;
        s.GetData(part, 3);
        QCOMPARE(part, text.left(3));
        m_peer->write("@#");
        QTRY_COMPARE(arrival.last().at(0).toInt(), 253 + 2);
    }

    // What a peer that never reads leaves waiting is bounded: beyond it the link is closed as
    // if by the peer. What arrives is held in bounded pieces; the last bytes before the
    // peer's close are read.
    void buffersAreBounded()
    {
        SocketControl s;
        qint64 mostArrived = 0;
        QString got;
        connect(&s, &SocketControl::DataArrival, this, [&](qint32 bytesTotal) {
            mostArrived = qMax<qint64>(mostArrived, bytesTotal);
            QString part;
            s.GetData(part);
            got += part;
        });
        QSignalSpy closed(&s, &SocketControl::Closed);
        QVERIFY(connectUp(s));
        m_peer->write(QByteArray(4 * SocketControl::ReadBufferSize, 'x') + "@#13#2#@");
        QTRY_COMPARE(got.size(), 4 * SocketControl::ReadBufferSize + 8);
        QVERIFY(mostArrived <= SocketControl::ReadBufferSize && got.endsWith(QLatin1String("@#13#2#@")));
        m_peer->write("last");
        m_peer->disconnectFromHost();
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(got.endsWith(QLatin1String("@#13#2#@last")));

        closed.clear();
        QVERIFY(connectUp(s));
        m_peer->setReadBufferSize(1); // from now on the peer reads nothing
        const QString reply(16 * 1024, QLatin1Char('r'));
        for (qint64 sent = 0; closed.isEmpty() && sent < 64 * SocketControl::MaxPendingOutput; sent += reply.size()) {
            s.SendData(reply);
            QCoreApplication::processEvents();
        }
        QCOMPARE(closed.size(), 1);
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
    }
};

QTEST_GUILESS_MAIN(tst_SocketControl)
#include "tst_SocketControl.moc"
