// The side link as the panel keeps it, against a real server on 127.0.0.1: the supervisor
// that opens, watches and reopens the link, and the handling of what the server sends. The
// window is a stand-in that records what the link shows.
#include "Version.h"
#include "serverlink/SideLinkMessages.h"
#include "serverlink/SideLinkSupervisor.h"
#include "serverlink/SideLinkView.h"
#include "serverlink/SocketControl.h"
#include "serverlink/VersionNumbers.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "TestSupport.h"

#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modGlobClientVar;
using TestSupport::kWait;
using TestSupport::stampedBetween;

namespace {

const QByteArray kLife = "@#cmd:2##Argument:0###@", kLifeAnswer = "@#cmd:3##Argument:0###@";
// Answered by nothing but a type mismatch in panel 2: tells that the frames before it were handled.
const QByteArray kMarker = "@#cmd:x##Argument:0###@";

QByteArray command(int cmd, qint64 argument)
{
    return QStringLiteral("@#cmd:%1##Argument:%2###@").arg(cmd).arg(argument).toLatin1();
}

QByteArray profile(int n, int count, const char *name, int resolution = 0)
{
    return QStringLiteral("@#cmd:6##Argument:%1##NrOfUsers:%2##Username:%3##Password:pw-%3##Resolution:%4###@")
        .arg(n).arg(count).arg(QLatin1String(name)).arg(resolution).toLatin1();
}

QByteArray identity()
{
    return "@#cmd:5##Argument:"
           + QByteArray::number(VersionNumbers::PanelVersionNumber(Version::Major, Version::Minor, Version::Revision))
           + "##ClientName:" + modSystemBasic::GetLocalComputerName().toLatin1() + "###@";
}

// The window as the side link sees it; the profile operations and the connection are recorded.
struct View : SideLinkView
{
    qint32 autoConnect = 1;
    QString server = QStringLiteral("127.0.0.1"), port, panel[3], version; // version null: hidden
    bool buttons = true;
    qint32 lamp = 0; // 0: hidden
    QStringList calls;

    qint32 AutoConnect() const override { return autoConnect; }
    QString ServerText() const override { return server; }
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
    void ConnectToServer() override { calls << QStringLiteral("connect"), gRdpStarted = true; }
};

// The supervisor and the message handling on one socket, wired as the main window wires them.
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
        view.port = port;
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, &supervisor, [this] { supervisor.timControl_Timer(), ticks << supervisor.LifeCnt(); });
        QObject::connect(&socket, &SocketControl::Connected, &supervisor, &SideLinkSupervisor::Winsock_Connect);
        QObject::connect(&socket, &SocketControl::Closed, &supervisor, &SideLinkSupervisor::Winsock_Close);
        QObject::connect(&socket, &SocketControl::Error, &supervisor, &SideLinkSupervisor::Winsock_Error);
        QObject::connect(&socket, &SocketControl::DataArrival, &messages, &SideLinkMessages::Winsock_DataArrival);
    }
    // Ticks on which an attempt began, counted from 1.
    QList<int> attemptTicks() const
    {
        QList<int> at;
        for (qsizetype i = 1; i < ticks.size(); ++i)
            if (ticks.at(i - 1) == 0 && ticks.at(i) == gStartConnectLifeCnt)
                at << int(i + 1);
        return at;
    }
};

// A listening socket whose accept queue is full: a further handshake is never answered.
struct StalledListener
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 port = 0;
    QTcpSocket filler;
    bool open()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) || ::listen(fd, 0)
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len))
            return false;
        port = ntohs(addr.sin_port);
        filler.connectToHost(QHostAddress::LocalHost, port); // fills a queue of backlog 0; nobody accepts it
        return filler.waitForConnected(5000);
    }
    ~StalledListener() { filler.abort(), ::close(fd); }
    // Sockets of this process in SYN-SENT towards it, from the kernel's own table.
    int synSent() const
    {
        const QString remote = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
        int count = 0;
        for (const QByteArray &line : TestSupport::readBytes(QStringLiteral("/proc/net/tcp")).split('\n')) {
            const QStringList cols = QString::fromLatin1(line).simplified().split(u' ');
            count += cols.size() > 3 && cols.at(2) == remote && cols.at(3) == QLatin1String("02");
        }
        return count;
    }
};

} // namespace

class tst_SideLink : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::LoopbackServer> m_server;
    std::unique_ptr<Link> m_link;
    QList<quint32> m_machine; // flags of each machine call
    std::function<void()> m_onMachine; // runs inside the machine call
    QString m_marker, m_userProcess;

    Link &link(int intervalMs = 3600 * 1000, QString port = QString())
    {
        m_link = std::make_unique<Link>(intervalMs, port.isNull() ? QString::number(m_server->port()) : port);
        return *m_link;
    }
    // Connected to the loopback server, the timer left alone.
    Link &connected()
    {
        Link &l = link();
        l.supervisor.ConnectSideLink();
        l.timer.stop();
        if (!QTest::qWaitFor([&] { return l.socket.State() == SocketControl::sckConnected && m_server->peer(); }))
            qFatal("the side link did not open");
        return l;
    }
    int markerRuns() const { return int(TestSupport::readBytes(m_marker).count('\n')); }

    // Exactly this answer, and the countdown refilled; with a stamp, panel 1 shows it and the time.
    void expectAnswer(const QByteArray &frame, const QByteArray &answer, const char *stamp = nullptr)
    {
        const QByteArray before = m_server->received;
        const QTime from = QTime::currentTime();
        m_link->supervisor.setLifeCnt(7);
        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->received, before + answer, kWait);
        QCOMPARE(m_link->supervisor.LifeCnt(), 45);
        if (stamp)
            QVERIFY2(stampedBetween(m_link->view.panel[1], QLatin1String(stamp), from, QTime::currentTime()),
                     qPrintable(m_link->view.panel[1]));
    }

private slots:
    void initTestCase()
    {
        modSystemBasic::SetMachineControl([this](quint32 flags, quint32 reserved) {
            QCOMPARE(reserved, 0xFFFFFFFFu);
            m_machine.append(flags);
            if (m_onMachine)
                m_onMachine();
        });
    }

    void init()
    {
        gStartLifeCnt = 45;
        gStartConnectLifeCnt = gTryConnectActionCnt = 3;
        gTryConnectCount = 0;
        gUserProcessName.clear();
        gUsersConfig.reset();
        gRdpStarted = gRdpConnected = false;
        m_machine.clear();
        m_onMachine = nullptr;
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_server = std::make_unique<TestSupport::LoopbackServer>();
        m_marker = m_dir->file(QStringLiteral("marker"));
        m_userProcess = m_dir->file(QStringLiteral("user process.sh"));
        TestSupport::writeBytes(m_userProcess, "#!/bin/sh\necho run >> '" + m_marker.toUtf8() + "'\n");
        QFile::setPermissions(m_userProcess, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void cleanup() { m_link.reset(), m_server.reset(), m_dir.reset(); }

    // Refused every time: a new attempt every 4 ticks, the user process after every third
    // failure, the timer off while it runs; the buttons off and the lamp hidden meanwhile.
    void refusedServer_data()
    {
        QTest::addColumn<bool>("process");
        QTest::newRow("user process") << true;
        QTest::newRow("user process missing") << false;
    }
    void refusedServer()
    {
        QFETCH(bool, process);
        gUserProcessName = process ? m_userProcess : m_dir->file(QStringLiteral("absent.sh"));
        Link &l = link(50, QString::number(TestSupport::refusingPort()));
        QStringList seen;
        connect(&l.socket, &SocketControl::Error, this, [&] {
            const bool stamped = stampedBetween(l.view.panel[1], "Try to reconnect ", QTime::currentTime().addSecs(-5), QTime::currentTime());
            seen << QStringLiteral("%1 %2 %3 %4 %5").arg(gTryConnectCount).arg(l.timer.isActive()).arg(markerRuns())
                        .arg(stamped).arg(l.view.buttons || l.view.lamp || !l.view.version.isNull());
        });
        l.view.version = QStringLiteral("01.20 Build: 18");
        l.view.lamp = 255;
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 6, kWait);
        l.timer.stop();
        // The process of the third failure runs after it, once, and before the fourth.
        const int r = process;
        QCOMPARE(seen.mid(0, 6), (QStringList{"1 1 0 1 0", "2 1 0 1 0", "0 0 0 1 0", QStringLiteral("1 1 %1 1 0").arg(r),
                                              QStringLiteral("2 1 %1 1 0").arg(r), QStringLiteral("0 0 %1 1 0").arg(r)}));
        for (qsizetype i = 0; i < l.ticks.size(); ++i)
            QCOMPARE(l.ticks.at(i), (QList<qint32>{2, 1, 0, 3}).at(i % 4));
    }

    // A connection clears the failures; a countdown at or below 0 reopens the link on the next tick.
    void connectionClearsFailureCount()
    {
        gUserProcessName = m_userProcess;
        const quint16 port = TestSupport::refusingPort();
        Link &l = link(50, QString::number(port));
        QTcpServer server;
        int errors = 0;
        connect(&l.socket, &SocketControl::Error, this, [&] {
            if (++errors == 2) // from the second refusal on, the server is there
                QVERIFY(server.listen(QHostAddress::LocalHost, port));
        });
        int links = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] { ++links; });
        QString atConnect; // countdown and timer once the supervisor has taken the connection
        connect(&l.socket, &SocketControl::Connected, this, [&] { atConnect = QStringLiteral("%1 %2").arg(l.supervisor.LifeCnt()).arg(l.timer.isActive()); });
        const QTime from = QTime::currentTime();
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(l.socket.State(), qint32(SocketControl::sckConnected), kWait);
        QVERIFY(errors == 2 && gTryConnectCount == 0 && markerRuns() == 0);
        QTRY_COMPARE(atConnect, QStringLiteral("45 1"));
        QVERIFY(stampedBetween(l.view.panel[1], "Connected ", from, QTime::currentTime()));
        l.timer.stop();
        QTRY_COMPARE(links, 1);
        l.supervisor.setLifeCnt(-2);
        l.supervisor.timControl_Timer(); // an attempt made too soon after the last one waits for its turn
        QTRY_COMPARE_WITH_TIMEOUT(links, 2, kWait);
    }

    // Only a checked "Connect to Server" opens the link: cleared or grayed, neither an attempt
    // nor a tick at 0 does anything.
    void onlyWhenChecked_data()
    {
        QTest::addColumn<qint32>("box");
        QTest::newRow("cleared") << 0;
        QTest::newRow("grayed") << 2;
    }
    void onlyWhenChecked()
    {
        QFETCH(qint32, box);
        Link &l = link(20);
        l.view.autoConnect = box;
        gTryConnectCount = 2;
        l.supervisor.ConnectSideLink();
        QVERIFY(!l.timer.isActive());
        l.timer.start();
        QTRY_VERIFY(l.ticks.size() >= 5);
        QCOMPARE(l.ticks.count(0), l.ticks.size());
        QVERIFY(l.socket.State() == SocketControl::sckClosed && m_server->peers.isEmpty());
        QVERIFY(l.view.panel[1].isNull() && l.view.buttons && gTryConnectCount == 2);
    }

    // The server closing the link: with the box checked a new attempt at once, not on a tick.
    void peerClosesLink_data()
    {
        QTest::addColumn<qint32>("box");
        QTest::newRow("checked") << 1;
        QTest::newRow("grayed") << 2;
    }
    void peerClosesLink()
    {
        QFETCH(qint32, box);
        Link &l = connected();
        expectAnswer(kLife, kLifeAnswer);
        l.view.autoConnect = box;
        l.timer.start();
        m_server->peer()->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(!l.view.panel[1].startsWith(QLatin1String("SignOfLife")), kWait);
        if (l.view.autoConnect == 1) {
            QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
            QTRY_VERIFY(l.view.panel[1].startsWith(QLatin1String("Connected ")));
            QVERIFY(l.ticks.isEmpty() && l.timer.isActive());
        } else {
            QCOMPARE(l.view.panel[1], QStringLiteral("Not Connected"));
            QVERIFY(!l.timer.isActive() && l.socket.State() == SocketControl::sckClosing); // no new attempt
        }
    }

    // A peer that takes every link and closes it: with a request first, each close brings a
    // new attempt at once, yet never sooner than 10 ms after the last; without, from the
    // second close on, the next tick does.
    void peerClosingEveryLinkIsPaced_data()
    {
        QTest::addColumn<bool>("requestFirst");
        QTest::newRow("closes at once") << false;
        QTest::newRow("asks for a sign of life, then closes") << true;
    }
    void peerClosingEveryLinkIsPaced()
    {
        QFETCH(bool, requestFirst);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> acceptedAt;
        connect(&m_server->server, &QTcpServer::newConnection, this, [&] {
            acceptedAt << clock.elapsed();
            if (requestFirst)
                m_server->send(kLife);
            m_server->peer()->disconnectFromHost();
        });
        Link &l = link(100);
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(acceptedAt.size() >= 8, kWait);
        l.timer.stop();
        if (requestFirst)
            QVERIFY2(acceptedAt.at(7) - acceptedAt.at(0) >= 60, "7 new links in less than 70 ms");
        else
            QVERIFY2(acceptedAt.size() <= l.ticks.size() + 2, "more links than ticks");
    }

    // Silent for gStartLifeCnt ticks after connecting: reopened on the next one.
    void silentServerReopened()
    {
        gStartLifeCnt = 5;
        Link &l = link(50);
        int connectedAt = -1;
        connect(&l.socket, &SocketControl::Connected, this, [&] { connectedAt = connectedAt < 0 ? int(l.ticks.size()) : connectedAt; });
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
        QCOMPARE(l.ticks.mid(connectedAt, 6), (QList<qint32>{4, 3, 2, 1, 0, 3}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->peers.at(0) || m_server->peers.at(0)->state() == QAbstractSocket::UnconnectedState, kWait);
    }

    // An attempt that never settles is replaced every 4 ticks, each replacement leaving exactly
    // one attempt in the kernel and one socket in the control; the replaced ones raise nothing.
    void handshakeNeverCompletes()
    {
        StalledListener listener;
        QVERIFY(listener.open());
        Link &l = link(50, QString::number(listener.port));
        QList<int> synSent;
        int mostSockets = 0, errors = 0;
        connect(&l.socket, &SocketControl::Error, this, [&] { ++errors; });
        connect(&l.timer, &QTimer::timeout, this, [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            mostSockets = std::max(mostSockets, int(l.socket.findChildren<QTcpSocket *>().size()));
            if (l.attemptTicks().size() > synSent.size())
                synSent << listener.synSent();
        });
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(l.attemptTicks().size() >= 4, kWait);
        l.timer.stop();
        QCOMPARE(l.attemptTicks().mid(0, 4), (QList<int>{4, 8, 12, 16}));
        QCOMPARE(synSent.mid(0, 4), (QList<int>{1, 1, 1, 1}));
        QVERIFY(mostSockets <= 1 && errors == 0 && gTryConnectCount == 0);
        QCOMPARE(l.socket.State(), qint32(SocketControl::sckConnecting));
    }

    // The port field's leading number is the port; a port in the server field is the
    // session's, and the side link takes only the host from it.
    void serverAndPortFields_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("portSuffix");
        QTest::newRow("port with trailing text") << "127.0.0.1" << "abc";
        QTest::newRow("host and the session's port") << "127.0.0.1:3389" << "";
        QTest::newRow("v6 address and the session's port") << "[::1]:3389" << "";
        QTest::newRow("bare v6 address") << "::1" << "";
    }
    void serverAndPortFields()
    {
        QFETCH(QString, server);
        QTcpServer listener;
        const bool v6 = server.contains(QLatin1String("::"));
        if (!listener.listen(v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0) && v6)
            QSKIP("this machine has no IPv6 loopback");
        QFETCH(QString, portSuffix);
        Link &l = link(3600 * 1000, QString::number(listener.serverPort()) + portSuffix);
        l.view.server = server;
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(l.socket.State(), qint32(SocketControl::sckConnected), kWait);
    }

    // An error of a connection the supervisor did not start counts as no failed attempt; a
    // failure action that ends after the window went leaves the timer off.
    void failuresOutsideAnAttempt()
    {
        gTryConnectActionCnt = 1;
        gUserProcessName = m_userProcess;
        Link &l = link(50, QString::number(TestSupport::refusingPort()));
        int errors = 0;
        connect(&l.socket, &SocketControl::Error, this, [&] { ++errors; });
        l.socket.Connect(QStringLiteral("127.0.0.1"), TestSupport::refusingPort());
        QTRY_COMPARE(errors, 1);
        QVERIFY(gTryConnectCount == 0 && !l.timer.isActive());
        connect(&l.socket, &SocketControl::Error, &l.supervisor, &SideLinkSupervisor::Unload);
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(markerRuns(), 1, kWait);
        QCoreApplication::processEvents();
        QVERIFY(!l.timer.isActive());
    }

    // A session as the server orders it: sign of life, identity, a profile series, the order
    // to connect.
    void sessionOrderedByTheServer()
    {
        Link &l = connected();
        expectAnswer(command(2, 99), kLifeAnswer, "SignOfLife "); // the request's argument plays no part
        expectAnswer(command(4, 0), identity(), "MachineName");
        QVERIFY(l.view.version.isNull()); // no version given: the labels stay as they were
        expectAnswer(command(4, 1020018), identity());
        QCOMPARE(l.view.version, QStringLiteral("01.20 Build: 18"));
        expectAnswer(profile(1, 3, "op1"), command(7, 1), "Get Remotedata");
        expectAnswer(profile(2, 3, "op2", 3), command(7, 2));
        QCOMPARE(l.view.calls, (QStringList{"show op1", "show op2"})); // no list before the last one
        expectAnswer(profile(3, 3, "op3", 5), command(7, 3));
        QCOMPARE(l.view.calls.mid(2), (QStringList{"show op3", "list 3"}));
        QCOMPARE(gUsersConfig->Item(2)->Password() + QString::number(gUsersConfig->Item(2)->Resolution()), QStringLiteral("pw-op23"));
        l.view.calls.clear();
        expectAnswer(command(11, 2) + kLife, command(3, 1), "SignOfLife "); // started, not yet connected
        QCOMPARE(l.view.calls, (QStringList{"select 1", "show op2", "connect"}));
        gRdpConnected = true;
        expectAnswer(kLife, command(3, 3));
        expectAnswer(profile(1, 1, "new"), command(7, 1)); // a new series drops the old list at once
        QCOMPARE(gUsersConfig->Count(), 1);
    }

    void remoteStatus_data()
    {
        QTest::addColumn<QByteArray>("fields");
        QTest::addColumn<int>("colour"); // red: locked, the buttons off
        QTest::addColumn<QString>("panel2");
        QTest::newRow("locked, client") << QByteArray("1##ClientName:OP2##Connnect:True") << 255 << "Locked : Client OP2 connected!";
        QTest::newRow("locked, none") << QByteArray("3##ClientName:OP2##Connnect:False") << 255 << "Locked : No Client connected!";
        QTest::newRow("free (bit 0 clear), none") << QByteArray("2##ClientName:##Connnect:False") << 65280 << "No Client connected!";
        QTest::newRow("free, client") << QByteArray("0##ClientName:OP3##Connnect:True") << 65535 << "Client OP3 connected!";
        QTest::newRow("no Connnect field: no client") << QByteArray("0##ClientName:OP3") << 65280 << "No Client connected!";
    }
    void remoteStatus()
    {
        QFETCH(QByteArray, fields);
        QFETCH(int, colour);
        Link &l = connected();
        l.view.buttons = colour == 255;
        expectAnswer("@#cmd:8##Argument:" + fields + "###@", command(9, 0));
        QCOMPARE(l.view.panel[1], QStringLiteral("Remotestatus received"));
        QTEST(l.view.panel[2], "panel2");
        QVERIFY(l.view.lamp == colour && l.view.buttons == (colour != 255));
    }

    // The link is a byte stream: frames of one write are all answered, a frame split over two
    // writes once it is complete, bytes arriving while a frame is handled after it, and what a
    // closed link left unfinished is forgotten.
    void frameStream()
    {
        Link &l = connected();
        expectAnswer(kLife + command(4, 1020018), kLifeAnswer + identity());
        expectAnswer(kLife + "xx@#cmd:8##Argument:1##Client", kLifeAnswer);
        expectAnswer("Name:OP2##Connnect:True###@", command(9, 0));
        QCOMPARE(l.view.panel[2], QStringLiteral("Locked : Client OP2 connected!"));
        // The machine call processes events while more bytes arrive: the socket raises no new
        // arrival for them, so the running handling must take them.
        auto *socket = l.socket.findChild<QTcpSocket *>();
        m_onMachine = [&] {
            m_server->send(command(4, 0));
            QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, kWait);
            m_onMachine = nullptr;
        };
        expectAnswer(command(13, 1) + kLife, kLifeAnswer + identity());
        QVERIFY(!m_onMachine);
        expectAnswer(kLife + "@#cmd:8##Argument:1##ClientName:OP", kLifeAnswer);
        m_server->peer()->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(l.socket.State(), qint32(SocketControl::sckConnected), kWait);
        expectAnswer(kLife, kLifeAnswer);
    }

    // Stray markers, and a frame cut off at every byte, cost only themselves: the request
    // behind them is answered. A frame short of only its last '@' is whole with the '@' that
    // begins the request.
    void brokenBytesBeforeARequest_data()
    {
        QTest::addColumn<QByteArray>("broken");
        QTest::addColumn<QByteArray>("answer");
        for (const char *stray : {"@", "#", "@#", "@#@", "#@", "##", "#@#", "@@##", "@##@"})
            QTest::addRow("stray %s", stray) << QByteArray(stray) << kLifeAnswer;
        const QByteArray status = "@#cmd:8##Argument:0##ClientName:OP2##Connnect:True###@";
        for (qsizetype cut = 1; cut < status.size(); ++cut)
            QTest::addRow("cut %s", status.left(cut).constData())
                << status.left(cut) << (cut == status.size() - 1 ? command(9, 0) + kLifeAnswer : kLifeAnswer);
    }
    void brokenBytesBeforeARequest()
    {
        QFETCH(QByteArray, broken);
        QFETCH(QByteArray, answer);
        connected();
        expectAnswer(broken + kLife, answer);
    }

    // Frames that get no answer: bad ones show their error in panel 2, the panel's own commands
    // and unknown ones change nothing, exit orders only make the machine call.
    void unansweredFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("panel2");
        QTest::addColumn<int>("flags"); // of the machine call, -1: none
        const QString mismatch = QStringLiteral("error:13 Type mismatch"), overflow = QStringLiteral("error:6 Overflow");
        const QString range = QStringLiteral("error:9 Subscript out of range"), invalid = QStringLiteral("error:380 Invalid property value");
        QTest::newRow("non-numeric cmd") << kMarker << mismatch << -1;
        QTest::newRow("missing argument") << QByteArray("@#cmd:4###@") << mismatch << -1;
        QTest::newRow("profile 2 with no list") << profile(2, 3, "op2") << range << -1;
        QTest::newRow("argument beyond 32 bits") << command(2, 2147483648LL) << overflow << -1;
        // With two profiles listed: a connect order for none of them connects nothing.
        QTest::newRow("connect one beyond") << command(11, 3) << invalid << -1;
        QTest::newRow("connect beyond 16 bits") << command(11, 40000) << overflow << -1;
        QTest::newRow("connect none chosen") << command(11, 0) << range << -1;
        // Followed by the marker: panel 2 shows its error once they have been handled.
        for (int cmd : {1, 3, 5, 7, 9, 10, 12, 14})
            QTest::addRow("cmd %d", cmd) << command(cmd, 1) + kMarker << mismatch << -1;
        QTest::newRow("no frame at all") << "hello" + kMarker << mismatch << -1;
        // This platform is not of the NT family, so the flags are those for the other systems.
        for (const auto &[mode, flags] : {std::pair{0, 0}, {1, 3}, {2, 1}, {3, 1}})
            QTest::addRow("exit mode %d", mode) << command(13, mode) << "before" << flags;
        QTest::newRow("unknown exit mode") << command(13, 4) + kMarker << mismatch << -1;
    }
    void unansweredFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, flags);
        Link &l = connected();
        if (frame.startsWith("@#cmd:11")) // connect orders: two profiles listed before
            expectAnswer(profile(1, 2, "op1") + profile(2, 2, "op2"), command(7, 1) + command(7, 2));
        m_server->received.clear();
        l.view.calls.clear();
        l.supervisor.setLifeCnt(7);
        l.view.panel[2] = QStringLiteral("before");
        const QString panel1 = l.view.panel[1];
        const QList<quint32> machine = flags < 0 ? QList<quint32>() : QList<quint32>{quint32(flags)};
        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_machine, machine, kWait); // the machine call is the handling's last step
        QFETCH(QString, panel2);
        QTRY_COMPARE_WITH_TIMEOUT(l.view.panel[2], panel2, kWait);
        QVERIFY(l.supervisor.LifeCnt() == 7 && l.view.panel[1] == panel1 && !l.view.calls.contains(QStringLiteral("connect")));
        // The link goes on working, and nothing was sent for the frame.
        expectAnswer(kLife, kLifeAnswer);
        QCOMPARE(m_server->received, kLifeAnswer);
        QCOMPARE(m_machine, machine);
    }

    // The panel's own requests; one that cannot be sent says why in panel 2.
    void panelRequests()
    {
        Link &l = connected();
        QVERIFY(l.messages.Send(SideLinkCommand::ConnectionRequest, 3) && l.messages.Send(SideLinkCommand::ExitRequest, 1));
        QTRY_COMPARE(m_server->received, QByteArray("@#cmd:10##Argument:3###@@#cmd:12##Argument:1###@"));
        l.socket.Close();
        QVERIFY(!l.messages.Send(SideLinkCommand::ExitRequest, 3));
        QCOMPARE(l.view.panel[2], QStringLiteral("error:40006 Wrong protocol or connection state for the requested transaction or request"));
    }
};

QTEST_GUILESS_MAIN(tst_SideLink)
#include "tst_SideLink.moc"
