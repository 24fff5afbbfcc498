// The side link against a real server on 127.0.0.1: socket, supervisor and frame handling.
#include "Version.h"
#include "platform/ErrorNumbers.h"
#include "serverlink/SideLinkMessages.h"
#include "serverlink/SideLinkSupervisor.h"
#include "serverlink/SideLinkView.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <numeric>

using namespace modGlobClientVar;
using TestSupport::kWait;

const QByteArray kLife = "@#cmd:2##Argument:0###@", kLifeAnswer = "@#cmd:3##Argument:0###@";
// Answered by a type mismatch in panel 2 only: the frames before it were handled.
const QByteArray kMarker = "@#cmd:x##Argument:0###@";
const QList<qint32> kTicks{2, 1, 0, 3, 2, 1, 0, 3, 2, 1, 0, 3, 2, 1, 0, 3}; // the countdown: a new attempt every 4 ticks

static QByteArray command(int cmd, qint64 argument) { return QStringLiteral("@#cmd:%1##Argument:%2###@").arg(cmd).arg(argument).toLatin1(); }

static QByteArray profile(int n, int count, const char *name, int resolution = 0)
{
    return QStringLiteral("@#cmd:6##Argument:%1##NrOfUsers:%2##Username:%3##Password:pw-%3##Resolution:%4###@")
        .arg(n).arg(count).arg(QLatin1String(name)).arg(resolution).toLatin1();
}

// Panel 1's text: the prefix and the time of day in the system's long format, of the last 3 seconds.
static bool stamped(const QString &text, const char *prefix)
{
    for (int s = 0; s < 3; ++s)
        if (text == QLatin1String(prefix) + QLocale::system().toString(QTime::currentTime().addSecs(-s), QLocale::LongFormat))
            return true;
    return false;
}

static QByteArray identity()
{
    return "@#cmd:5##Argument:" + QByteArray::number(-2147483647 - 1 + Version::Major * 1000000 + Version::Minor * 1000 + Version::Revision)
           + "##ClientName:" + modSystemBasic::GetLocalComputerName().toLatin1() + "###@";
}

// The window as the side link sees it, recording the profile operations and the connection.
struct View : SideLinkView
{
    qint32 autoConnect = 1, lamp = 0; // lamp 0: hidden
    QString port, panel[3], version; // version null: hidden
    bool buttons = true;
    QStringList calls;
    qint32 AutoConnect() const override { return autoConnect; }
    QString ServerText() const override { return QStringLiteral("127.0.0.1:3389"); }
    QString PortText() const override { return port; }
    void setPanelText(int n, const QString &text) override { panel[n] = text; }
    void ShowServerVersion(const QString &text) override { version = text; }
    void HideServerVersion() override { version = QString(); }
    void EnableServerButtons(bool enabled) override { buttons = enabled; }
    void ShowLockStatus(qint32 colour) override { lamp = colour; }
    void HideLockStatus() override { lamp = 0; }
    void ShowUserConfig(qint32 &n) override { calls << QStringLiteral("show ") + gUsersConfig->Item(n)->Username(); }
    void ShowUserList() override { calls << QStringLiteral("list %1").arg(gUsersConfig->Count()); }
    qint32 UserListCount() const override { return gUsersConfig ? gUsersConfig->Count() : 0; }
    void SelectUser(qint32 entry) override { calls << QStringLiteral("select %1").arg(entry); }
    void ConnectToServer() override { calls << (stamped(panel[1], "RemoteConnection") ? "connect, stamped" : "connect, " + panel[1]), started = true; }
    bool started = false, connected = false;
    bool RdpStarted() const override { return started; }
    bool RdpConnected() const override { return connected; }
};

// Wired as the main window wires them.
struct Link
{
    SocketControl socket;
    QTimer timer;
    View view;
    SideLinkSupervisor supervisor{socket, timer, view};
    SideLinkMessages messages{socket, supervisor, view};
    QList<qint32> ticks; // the countdown after each tick
    Link(int intervalMs, const QString &port)
    {
        view.port = port, timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, &supervisor, [this] { supervisor.timControl_Timer(), ticks << supervisor.LifeCnt(); });
        QObject::connect(&socket, &SocketControl::Connected, &supervisor, &SideLinkSupervisor::Winsock_Connect);
        QObject::connect(&socket, &SocketControl::Closed, &supervisor, &SideLinkSupervisor::Winsock_Close);
        QObject::connect(&socket, &SocketControl::Error, &supervisor, &SideLinkSupervisor::Winsock_Error);
        QObject::connect(&socket, &SocketControl::DataArrival, &messages, &SideLinkMessages::Winsock_DataArrival);
    }
};

class tst_SideLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::LoopbackServer> m_server;
    std::unique_ptr<Link> m_link;
    QList<quint32> m_machine; // flags of each machine call
    QString m_marker; // a line for each run of the user process

    Link &link(int intervalMs = 3600 * 1000, QString port = QString())
    {
        return *(m_link = std::make_unique<Link>(intervalMs, port.isNull() ? QString::number(m_server->port()) + QStringLiteral("abc") : port));
    }
    Link &connected()
    {
        Link &l = link();
        l.supervisor.ConnectSideLink(), l.timer.stop();
        if (!QTest::qWaitFor([&] { return l.socket.State() == SocketControl::sckConnected && m_server->peer(); }))
            qFatal("the side link did not open");
        return l;
    }
    static int sendError(SocketControl &s) { return TestSupport::errorOf([&] { s.SendData(QStringLiteral("@#2#@")); }); }
    int markerRuns() const { return int(TestSupport::readBytes(m_marker).count('\n')); }

    // Exactly this answer, the countdown refilled, and panel 1 stamped.
    void expectAnswer(const QByteArray &frame, const QByteArray &answer, const char *stamp = "")
    {
        const QByteArray before = m_server->received;
        m_link->supervisor.setLifeCnt(7);
        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->received, before + answer, kWait);
        QCOMPARE(m_link->supervisor.LifeCnt(), 45);
        QVERIFY2(*stamp ? stamped(m_link->view.panel[1], stamp) : true, qPrintable(m_link->view.panel[1]));
    }

private slots:
    void initTestCase() { modSystemBasic::SetMachineControl([this](quint32 flags, quint32 r) { m_machine << (r == 0xFFFFFFFFu ? flags : 999u); }); }
    void init()
    {
        gStartLifeCnt = 45, gStartConnectLifeCnt = gTryConnectActionCnt = 3, gTryConnectCount = 0;
        gUsersConfig.reset(), m_machine.clear();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_server = std::make_unique<TestSupport::LoopbackServer>();
        m_marker = m_dir->file(QStringLiteral("marker"));
        gUserProcessName = m_dir->file(QStringLiteral("user process.sh"));
        TestSupport::writeBytes(gUserProcessName, "#!/bin/sh\necho run >> '" + m_marker.toUtf8() + "'\n");
        QFile::setPermissions(gUserProcessName, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void cleanup() { m_link.reset(), m_server.reset(), m_dir.reset(); }

    // Opened or failed from the event loop, sends refused till then and after any end; Closed only when the
    // peer ends the link, after its last bytes were read, or when unread output passes the bound.
    void socket_data()
    {
        QTest::addColumn<qint32>("port"); // 0: the server's
        QTest::addColumn<QString>("end"); // the error when it never opens; -1: any but out of range
        for (const auto &[name, port, end] : {std::tuple{"refused", qint32(TestSupport::refusingPort()), "10061"}, {"negative", -1, "40021"},
                                              {"above 16 bits", 65536 + 12559, "40021"}, {"largest port is tried", 65535, "-1"}, {"peer closes", 0, "close"},
                                              {"peer resets", 0, "reset"}, {"peer stops reading", 0, "stall"}, {"own close", 0, "own"}})
            QTest::newRow(name) << port << QString::fromLatin1(end);
    }
    void socket()
    {
        QFETCH(qint32, port);
        QFETCH(QString, end);
        SocketControl s;
        QString got;
        connect(&s, &SocketControl::DataArrival, this, [&] { QString part; s.GetData(part); got += part; });
        QSignalSpy connected(&s, &SocketControl::Connected), closed(&s, &SocketControl::Closed), errors(&s, &SocketControl::Error);
        s.Connect(QStringLiteral("127.0.0.1"), port ? port : m_server->port());
        QVERIFY(connected.isEmpty() && errors.isEmpty());
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        QTRY_COMPARE(connected.size() + errors.size(), 1);
        if (port) {
            const int error = errors.isEmpty() ? 0 : errors.first().at(0).toInt();
            QVERIFY2(end == u"-1" ? error != 40021 : error == end.toInt(), qPrintable(QString::number(error)));
            QCOMPARE(s.State(), qint32(error ? SocketControl::sckError : SocketControl::sckConnected));
            return;
        }
        s.SendData(QStringLiteral("\u00dc")); // one byte per character
        QTRY_COMPARE(m_server->received, QByteArray("\xdc"));
        QTcpSocket *peer = m_server->peer();
        QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
        if (end == u"own" || end == u"reset")
            end == u"own" ? s.Close() : peer->abort();
        else if (end == u"close")
            m_server->send("\xdc" "last"), peer->disconnectFromHost();
        else { // the send that trips the bound fails itself, before Closed
            QObject::disconnect(peer, &QTcpSocket::readyRead, nullptr, nullptr), peer->setReadBufferSize(1);
            int error = 0;
            for (qint64 sent = 0; !error && sent < 64 * SocketControl::MaxPendingOutput; sent += 16384)
                QCoreApplication::processEvents(), error = TestSupport::errorOf([&] { s.SendData(QString(16384, u'r')); });
            QVERIFY(error == ErrorNumbers::SocketBadState.number && closed.isEmpty());
        }
        QVERIFY(end == u"stall" || !peerGone.isEmpty() || peerGone.wait());
        const int closedEvents = end == u"own" ? 0 : 1;
        QTRY_COMPARE(closed.size(), closedEvents);
        QCoreApplication::processEvents(); // nothing more arrives
        QVERIFY(s.State() != SocketControl::sckConnected && errors.isEmpty());
        QCOMPARE(got, end == u"close" ? QStringLiteral("\u00dclast") : QString());
        QCOMPARE(sendError(s), ErrorNumbers::SocketBadState.number);
        s.Close(); // a second end reports nothing
        QCOMPARE(closed.size(), closedEvents);
    }

    // Refused: an attempt every 4 ticks, the user process after every third failure with the timer off; a connection clears the
    // failures, and when it stays silent it is reopened on the 46th tick after it opened.
    void refusedThenConnected()
    {
        const quint16 port = TestSupport::refusingPort();
        Link &l = link(50, QString::number(port));
        QTcpServer server;
        QSignalSpy links(&server, &QTcpServer::newConnection);
        QStringList seen;
        connect(&l.socket, &SocketControl::Error, this, [&] {
            seen << QStringLiteral("%1 %2 %3 %4").arg(gTryConnectCount).arg(l.timer.isActive()).arg(markerRuns())
                        .arg(stamped(l.view.panel[1], "Try to reconnect ") && !l.view.buttons);
            if (seen.size() == 7)
                QVERIFY(server.listen(QHostAddress::LocalHost, port));
        });
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(links.size() == 1 && stamped(l.view.panel[1], "Connected "), kWait);
        QCOMPARE(seen, (QStringList{"1 1 0 1", "2 1 0 1", "0 0 0 1", "1 1 1 1", "2 1 1 1", "0 0 1 1", "1 1 2 1"}));
        QCOMPARE(l.ticks.mid(0, 24), kTicks + kTicks.mid(8));
        QVERIFY(gTryConnectCount == 0 && l.supervisor.LifeCnt() > 40); // from 45, a tick may have come since
        QTRY_VERIFY_WITH_TIMEOUT(links.size() == 2, kWait);
        QList<qint32> silent(45); // 44 to 0, then the attempt sets 3
        std::iota(silent.rbegin(), silent.rend(), 0);
        QCOMPARE(l.ticks.mid(l.ticks.indexOf(44), 46), silent << 3);
    }

    // The server closes a link: a new attempt at once when the box is checked; cleared or grayed, no attempt ever.
    void serverCloses_data()
    {
        QTest::addColumn<qint32>("box");
        for (const auto &[name, box] : {std::pair{"checked", 1}, {"cleared", 0}, {"grayed", 2}})
            QTest::newRow(name) << box;
    }
    void serverCloses()
    {
        QFETCH(qint32, box);
        Link &l = connected();
        // A link closed before any frame: a new attempt at once too (only a second such close in a row waits for a tick).
        m_server->peer()->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->peers.size() == 2 && l.socket.State() == SocketControl::sckConnected, kWait);
        // A frame short of its last '@' goes with the link.
        expectAnswer(kLife + "@#cmd:8##Argument:1##ClientName:OP##Connnect:True###", kLifeAnswer);
        l.view.autoConnect = box;
        m_server->peer()->disconnectFromHost();
        if (box == 1) {
            QTRY_VERIFY_WITH_TIMEOUT(m_server->peers.size() == 3 && l.view.panel[1].startsWith(QLatin1String("Connected ")), kWait);
            QVERIFY(l.ticks.isEmpty() && l.timer.isActive());
            expectAnswer(kLife, kLifeAnswer);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(l.view.panel[1], QStringLiteral("Not Connected"), kWait);
        gTryConnectCount = 2;
        l.supervisor.ConnectSideLink(), l.supervisor.setLifeCnt(0), l.timer.start(20);
        QTRY_VERIFY(l.ticks.size() >= 5);
        QCOMPARE(l.ticks.count(0), l.ticks.size());
        QVERIFY(m_server->peers.size() == 2 && l.view.panel[1] == u"Not Connected" && gTryConnectCount == 2);
    }

    // A peer closing every link: after a request a new attempt at once, but 10 ms apart at least; without, at the next tick.
    void peerClosingEveryLinkIsPaced_data()
    {
        QTest::addColumn<bool>("requestFirst");
        QTest::newRow("closes at once") << false, QTest::newRow("asks for a sign of life, then closes") << true;
    }
    void peerClosingEveryLinkIsPaced()
    {
        QFETCH(bool, requestFirst);
        QElapsedTimer clock;
        QList<qint64> acceptedAt;
        connect(&m_server->server, &QTcpServer::newConnection, this, [&] {
            acceptedAt << clock.elapsed();
            m_server->send(requestFirst ? kLife : QByteArray()), m_server->peer()->disconnectFromHost();
        });
        clock.start();
        link(100).supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(acceptedAt.size() >= 8, kWait);
        m_link->timer.stop();
        QVERIFY(requestFirst ? acceptedAt.at(7) - acceptedAt.at(0) >= 60 : acceptedAt.size() <= m_link->ticks.size() + 2);
    }

    // An attempt that never settles is replaced every 4 ticks, one socket at a time, silently.
    void handshakeNeverCompletes()
    {
        QTcpServer stalled; // its queue of backlog 0 filled, nobody accepting: a further handshake is never answered
        QTcpSocket filler;
        stalled.setListenBacklogSize(0);
        QVERIFY(stalled.listen(QHostAddress::LocalHost));
        stalled.pauseAccepting(), filler.connectToHost(QHostAddress::LocalHost, stalled.serverPort());
        QVERIFY(filler.waitForConnected(kWait));
        Link &l = link(50, QString::number(stalled.serverPort()));
        int mostSockets = 0;
        QSignalSpy errors(&l.socket, &SocketControl::Error);
        connect(&l.timer, &QTimer::timeout, this, [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            mostSockets = std::max(mostSockets, int(l.socket.findChildren<QTcpSocket *>().size()));
        });
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(l.ticks.size() >= 16, kWait);
        QCOMPARE(l.ticks.mid(0, 16), kTicks);
        QVERIFY(mostSockets <= 1 && errors.isEmpty() && gTryConnectCount == 0);
    }

    // An error outside an attempt (also after one that succeeded) is no failed one; after unloading, the failure
    // action leaves the timer off.
    void failuresOutsideAnAttempt()
    {
        {
            SocketControl &settled = connected().socket;
            QSignalSpy refused(&settled, &SocketControl::Error);
            settled.Connect(QStringLiteral("127.0.0.1"), TestSupport::refusingPort());
            QTRY_COMPARE(refused.size(), 1);
            QCOMPARE(gTryConnectCount, 0);
        }
        gTryConnectActionCnt = 1;
        Link &l = link(50, QString::number(TestSupport::refusingPort()));
        QSignalSpy errors(&l.socket, &SocketControl::Error);
        l.socket.Connect(QStringLiteral("127.0.0.1"), TestSupport::refusingPort());
        QTRY_COMPARE(errors.size(), 1);
        QVERIFY(gTryConnectCount == 0 && !l.timer.isActive());
        connect(&l.socket, &SocketControl::Error, &l.supervisor, &SideLinkSupervisor::Unload);
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(markerRuns(), 1, kWait);
        QCoreApplication::processEvents();
        QVERIFY(!l.timer.isActive());
    }

    void sessionOrderedByTheServer()
    {
        Link &l = connected();
        expectAnswer(command(2, 99), kLifeAnswer, "SignOfLife "); // the request's argument plays no part
        expectAnswer(command(4, 0), identity(), "MachineName");
        QVERIFY(l.view.version.isNull()); // no version given: the labels stay as they were
        expectAnswer(command(4, 1020018), identity());
        QCOMPARE(l.view.version, QStringLiteral("01.20 Build: 18"));
        expectAnswer("@#cmd:2##Argument:0##x#@", kLifeAnswer, "SignOfLife "); // the first "#@" ends a frame
        for (int i = 0; i < 2; ++i) { // a profile other than the first with no list yet: an error, each time
            l.view.panel[2].clear(), m_server->send(profile(2, 3, "early"));
            QTRY_COMPARE(l.view.panel[2], QStringLiteral("error:91 Object variable or With block variable not set"));
        }
        QVERIFY(!gUsersConfig && !m_server->received.contains("@#cmd:7"));
        expectAnswer(profile(1, 3, "op1"), command(7, 1), "Get Remotedata");
        expectAnswer(profile(2, 3, "op2", 3), command(7, 2));
        QCOMPARE(l.view.calls, (QStringList{"show op1", "show op2"})); // no list before the last one
        expectAnswer(profile(3, 3, "op3", 5), command(7, 3));
        QCOMPARE(l.view.calls.mid(2), (QStringList{"show op3", "list 3"}));
        l.view.calls.clear();
        expectAnswer(command(11, 2) + kLife, command(3, 1), "SignOfLife "); // started, not yet connected
        QCOMPARE(l.view.calls, (QStringList{"select 1", "show op2", "connect, stamped"}));
        l.view.connected = true;
        expectAnswer(kLife, command(3, 3));
        expectAnswer(profile(1, 1, "new"), command(7, 1)); // a new series drops the old list at once
        QCOMPARE(gUsersConfig->Count(), 1);
        QVERIFY(l.messages.Send(SideLinkCommand::ConnectionRequest, 3) && l.messages.Send(SideLinkCommand::ExitRequest, 1));
        QTRY_COMPARE(m_server->received.right(48), QByteArray("@#cmd:10##Argument:3###@@#cmd:12##Argument:1###@"));
        l.socket.Close();
        QVERIFY(!l.messages.Send(SideLinkCommand::ExitRequest, 3));
        QCOMPARE(l.view.panel[2], QStringLiteral("error:40006 Wrong protocol or connection state for the requested transaction or request"));
    }

    // One frame: its answer, panel 2, the lock lamp and the machine call; without an answer the countdown, panel 1 stay.
    void handling_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("left"); // lamp red: locked, the buttons off
        const QByteArray status = "@#cmd:8##Argument:", ack = command(9, 0), none;
        QTest::newRow("locked, client") << status + "1##ClientName:OP2##Connnect:True###@" << ack << "Locked : Client OP2 connected!|255|";
        QTest::newRow("free (bit 0 clear), none") << status + "2##ClientName:##Connnect:False###@" << ack << "No Client connected!|65280|";
        QTest::newRow("free, client") << status + "0##ClientName:OP3##Connnect:True###@" << ack << "Client OP3 connected!|65535|";
        QTest::newRow("non-numeric cmd") << kMarker << none << "error:13 Type mismatch|0|";
        QTest::newRow("#@ right after a value") << QByteArray("@#cmd:2##Argument:0#@") << none << "error:13 Type mismatch|0|";
        QTest::newRow("connect one beyond (of 2)") << command(11, 3) << none << "error:380 Invalid property value|0|";
        QTest::newRow("connect none chosen") << command(11, 0) << none << "error:9 Subscript out of range|0|";
        for (int cmd : {3, 5, 7, 9, 10, 12}) // the marker's error shows they were handled
            QTest::addRow("cmd %d", cmd) << command(cmd, 1) + kMarker << none << "error:13 Type mismatch|0|";
        QTest::newRow("exit, restart") << command(13, 1) << none << "before|0|3";
    }
    void handling()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, answer);
        QFETCH(QString, left);
        Link &l = connected();
        expectAnswer(profile(1, 2, "op1") + profile(2, 2, "op2"), command(7, 1) + command(7, 2));
        m_server->received.clear(), l.view.calls.clear(), l.supervisor.setLifeCnt(7);
        l.view.panel[2] = QStringLiteral("before"), l.view.buttons = left.contains(u"|255|");
        const QString panel1 = l.view.panel[1];
        m_server->send(frame);
        const auto state = [&] { return QStringLiteral("%1|%2|%3").arg(l.view.panel[2]).arg(l.view.lamp).arg(m_machine.isEmpty() ? QString() : QString::number(m_machine.first())); };
        QTRY_COMPARE_WITH_TIMEOUT(state() + u'|' + QString::fromLatin1(m_server->received), left + u'|' + QString::fromLatin1(answer), kWait);
        if (answer.isEmpty())
            QVERIFY(l.supervisor.LifeCnt() == 7 && l.view.panel[1] == panel1 && l.view.calls.filter(QStringLiteral("connect")).isEmpty());
        else
            QVERIFY(l.view.buttons == (l.view.lamp != 255) && l.view.panel[1] == u"Remotestatus received");
        expectAnswer(kLife, kLifeAnswer); // nothing else was sent for the frame
        QVERIFY(m_machine.size() <= 1 && state() == left);
    }
};

QTEST_GUILESS_MAIN(tst_SideLink)
#include "tst_SideLink.moc"
