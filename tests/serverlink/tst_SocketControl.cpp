// The side-link socket control against a real server on 127.0.0.1.
#include "serverlink/SocketControl.h"

#include "platform/ErrorNumbers.h"

#include <QHostAddress>
#include <QPointer>
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
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString allLatin1()
{
    QString text;
    for (int c = 0; c < 256; ++c)
        text.append(QChar(c));
    return text;
}

QByteArray allBytes()
{
    QByteArray bytes;
    for (int c = 0; c < 256; ++c)
        bytes.append(char(c));
    return bytes;
}

} // namespace

class tst_SocketControl : public QObject
{
    Q_OBJECT

private:
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_peer = nullptr; // the server's side of the last accepted link

    quint16 port() const { return m_server->serverPort(); }

    // Connects the control to the server and waits until both sides see the link.
    bool connectUp(SocketControl &s)
    {
        m_peer = nullptr;
        s.Connect(kLoopback, port());
        if (!QTest::qWaitFor([&] { return s.State() == SocketControl::sckConnected; }, 10000))
            return false;
        if (!QTest::qWaitFor([&] { return m_server->hasPendingConnections(); }, 10000))
            return false;
        m_peer = m_server->nextPendingConnection();
        return m_peer != nullptr;
    }

private slots:
    void init()
    {
        m_server = new QTcpServer(this);
        QVERIFY(m_server->listen(QHostAddress::LocalHost));
    }
    void cleanup()
    {
        delete m_server;
        m_server = nullptr;
        m_peer = nullptr;
    }

    void startsClosed()
    {
        SocketControl s;
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
    }

    void connectReachesConnected_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("dotted address") << kLoopback;
        QTest::newRow("name") << QStringLiteral("localhost");
    }
    void connectReachesConnected()
    {
        QFETCH(QString, host);
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy errors(&s, &SocketControl::Error);
        // localhost may name ::1 first; the server listens on both then.
        if (host != kLoopback) {
            delete m_server;
            m_server = new QTcpServer(this);
            QVERIFY(m_server->listen(QHostAddress::Any));
        }
        s.Connect(host, port());
        // Connect returns before the outcome is told.
        QCOMPARE(connected.size(), 0);
        QVERIFY(s.State() != SocketControl::sckClosed);
        QVERIFY(s.State() != SocketControl::sckError);
        QTRY_COMPARE(s.State(), qint32(SocketControl::sckConnected));
        QTRY_COMPARE(connected.size(), 1);
        QTRY_VERIFY(m_server->hasPendingConnections());
        QCOMPARE(errors.size(), 0);
    }

    void refusedConnectIsAnError()
    {
        const quint16 refused = refusedPort();
        QVERIFY(refused != 0);
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        QSignalSpy errors(&s, &SocketControl::Error);
        QSignalSpy closed(&s, &SocketControl::Closed);
        s.Connect(kLoopback, refused);
        QCOMPARE(errors.size(), 0); // told from the event loop, not from inside Connect
        QTRY_COMPARE(s.State(), qint32(SocketControl::sckError));
        QTRY_COMPARE(errors.size(), 1);
        QCOMPARE(errors.first().at(0).toInt(), 10061);
        QVERIFY(!errors.first().at(1).toString().isEmpty());
        QCOMPARE(connected.size(), 0);
        QCOMPARE(closed.size(), 0);

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
        // Above 16 bits must not be cut down to a port that happens to listen.
        QVERIFY(!m_server->hasPendingConnections());
    }

    void peerCloseRaisesClosed()
    {
        SocketControl s;
        QSignalSpy closed(&s, &SocketControl::Closed);
        QSignalSpy errors(&s, &SocketControl::Error);
        QVERIFY(connectUp(s));
        m_peer->disconnectFromHost();
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(s.State() != SocketControl::sckConnected);
        QCOMPARE(errors.size(), 0);
        s.Close();
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
        QCOMPARE(closed.size(), 1);
    }

    void peerResetRaisesClosed()
    {
        SocketControl s;
        QSignalSpy closed(&s, &SocketControl::Closed);
        QVERIFY(connectUp(s));
        m_peer->abort();
        QTRY_COMPARE(closed.size(), 1);
    }

    void ownCloseRaisesNothing()
    {
        SocketControl s;
        QSignalSpy closed(&s, &SocketControl::Closed);
        QSignalSpy errors(&s, &SocketControl::Error);
        QVERIFY(connectUp(s));
        QSignalSpy peerGone(m_peer, &QTcpSocket::disconnected);
        s.Close();
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
        QVERIFY(peerGone.wait(10000));
        QCoreApplication::processEvents();
        QCOMPARE(closed.size(), 0);
        QCOMPARE(errors.size(), 0);
    }

    void sendWhenNotConnectedRaises_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("never connected") << "never";
        QTest::newRow("after own close") << "closed";
        QTest::newRow("after peer close") << "peer";
        QTest::newRow("after refusal") << "refused";
        QTest::newRow("while connecting") << "connecting";
    }
    void sendWhenNotConnectedRaises()
    {
        QFETCH(QString, situation);
        SocketControl s;
        if (situation == "closed") {
            QVERIFY(connectUp(s));
            s.Close();
        } else if (situation == "peer") {
            QSignalSpy closed(&s, &SocketControl::Closed);
            QVERIFY(connectUp(s));
            m_peer->disconnectFromHost();
            QTRY_COMPARE(closed.size(), 1);
        } else if (situation == "refused") {
            s.Connect(kLoopback, refusedPort());
            QTRY_COMPARE(s.State(), qint32(SocketControl::sckError));
        } else if (situation == "connecting") {
            s.Connect(QStringLiteral("localhost"), port());
            if (s.State() == SocketControl::sckConnected)
                QSKIP("connected before Connect returned");
        }
        try {
            s.SendData(QStringLiteral("@#2#@"));
            QFAIL("SendData did not raise");
        } catch (const VbError &e) {
            QCOMPARE(e.number(), ErrorNumbers::SocketBadState.number);
            QCOMPARE(e.description(), QString::fromLatin1(ErrorNumbers::SocketBadState.description));
        }
    }

    void sendsLatin1BytesExactly()
    {
        SocketControl s;
        QVERIFY(connectUp(s));
        s.SendData(allLatin1());
        QByteArray received;
        QTRY_VERIFY((received += m_peer->readAll()).size() >= 256);
        QCOMPARE(received, allBytes());

        // A character outside the code page takes one byte as well.
        s.SendData(QStringLiteral("a\u20ACb"));
        received.clear();
        QTRY_VERIFY((received += m_peer->readAll()).size() >= 3);
        QCOMPARE(received.size(), 3);
        QCOMPARE(received.at(0), 'a');
        QCOMPARE(received.at(2), 'b');
    }

    void receivesLatin1BytesExactly()
    {
        SocketControl s;
        QSignalSpy arrival(&s, &SocketControl::DataArrival);
        QVERIFY(connectUp(s));
        m_peer->write(allBytes());
        QString text;
        QTRY_VERIFY([&] {
            QString part;
            s.GetData(part);
            text += part;
            return text.size() >= 256;
        }());
        QCOMPARE(text, allLatin1());
        QVERIFY(arrival.size() >= 1);
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
        // The next arrival counts what is waiting, the unread rest included.
        m_peer->write("ab");
        QTRY_COMPARE(arrival.size(), 2);
        QCOMPARE(arrival.last().at(0).toInt(), 6);
        s.GetData(part);
        QCOMPARE(part, QStringLiteral("#0#@ab"));
        s.GetData(part);
        QCOMPARE(part, QString());
    }

    void lastDataBeforePeerCloseIsReadable()
    {
        SocketControl s;
        QString got;
        connect(&s, &SocketControl::DataArrival, this, [&](qint32) {
            QString part;
            s.GetData(part);
            got += part;
        });
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

        // A refused attempt replaced at once: its refusal must not be heard.
        s.Connect(kLoopback, refusedPort());
        QVERIFY(connectUp(s));
        QTRY_COMPARE(connected.size(), 1);

        // An open link replaced: the old peer sees its end, the control hears nothing of it.
        QTcpSocket *oldPeer = m_peer;
        QSignalSpy oldGone(oldPeer, &QTcpSocket::disconnected);
        QVERIFY(connectUp(s));
        QVERIFY(oldGone.size() == 1 || oldGone.wait(10000));
        QTRY_COMPARE(connected.size(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(closed.size(), 0);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(s.State(), qint32(SocketControl::sckConnected));

        // The new link is the one that carries data.
        s.SendData(QStringLiteral("x"));
        QByteArray received;
        QTRY_VERIFY(!(received += m_peer->readAll()).isEmpty());
        QCOMPARE(received, QByteArray("x"));
    }

    void reconnectFromInsideClosed()
    {
        // The supervisor answers the peer's close by connecting again from the handler.
        SocketControl s;
        QSignalSpy connected(&s, &SocketControl::Connected);
        connect(&s, &SocketControl::Closed, this, [&] {
            s.Close();
            s.Connect(kLoopback, port());
        });
        QVERIFY(connectUp(s));
        m_peer->disconnectFromHost();
        QTRY_COMPARE(connected.size(), 2);
        QCOMPARE(s.State(), qint32(SocketControl::sckConnected));
    }

    void closeFromInsideDataArrival()
    {
        SocketControl s;
        QSignalSpy closed(&s, &SocketControl::Closed);
        connect(&s, &SocketControl::DataArrival, this, [&](qint32) { s.Close(); });
        QVERIFY(connectUp(s));
        QSignalSpy peerGone(m_peer, &QTcpSocket::disconnected);
        m_peer->write("bye");
        QVERIFY(peerGone.wait(10000));
        QCOMPARE(s.State(), qint32(SocketControl::sckClosed));
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
        // Towards the last server, also once the link is down.
        QCOMPARE(s.LocalIP(), kLoopback);
    }
};

QTEST_GUILESS_MAIN(tst_SocketControl)
#include "tst_SocketControl.moc"
