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
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <arpa/inet.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modGlobClientVar;
using TestSupport::kWait;
using TestSupport::stampedBetween;

namespace {

const QByteArray kLife = "@#cmd:2##Argument:0###@";
const QByteArray kLifeAnswer = "@#cmd:3##Argument:0###@";
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
    const qint32 number = VersionNumbers::PanelVersionNumber(Version::Major, Version::Minor, Version::Revision);
    return "@#cmd:5##Argument:" + QByteArray::number(number) + "##ClientName:"
           + modSystemBasic::GetLocalComputerName().toLatin1() + "###@";
}

// The window as the side link sees it; the profile operations and the connection are recorded.
class View : public SideLinkView
{
public:
    qint32 autoConnect = 1;
    QString server = QStringLiteral("127.0.0.1"), port;
    QString panel[3];
    QString version; // null: hidden
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
    void ShowUserConfig(qint32 &Index) override
    {
        if (!gUsersConfig)
            throw VbError(9, QStringLiteral("Subscript out of range"));
        calls << QStringLiteral("show ") + gUsersConfig->Item(Index)->Username();
    }
    void ShowUserList() override { calls << QStringLiteral("list %1").arg(gUsersConfig->Count()); }
    qint32 UserListCount() const override { return gUsersConfig ? gUsersConfig->Count() : 0; }
    void SelectUser(qint32 entry) override { calls << QStringLiteral("select %1").arg(entry); }
    void ConnectToServer() override
    {
        calls << QStringLiteral("connect");
        gRdpStarted = true;
    }
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

    explicit Link(int intervalMs)
    {
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, &supervisor, [this] {
            supervisor.timControl_Timer();
            ticks << supervisor.LifeCnt();
        });
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
class StalledListener
{
public:
    bool open()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return false;
        port = ntohs(addr.sin_port);
        // One completed connection fills a queue of backlog 0; nobody ever accepts it.
        m_filler.connectToHost(QHostAddress::LocalHost, port);
        return m_filler.waitForConnected(5000);
    }
    ~StalledListener()
    {
        m_filler.abort();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port = 0;

private:
    int m_fd = -1;
    QTcpSocket m_filler;
};

// Sockets of this process in SYN-SENT towards 127.0.0.1:port, from the kernel's own table.
int synSentTo(quint16 port)
{
    const QString remote = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    int count = 0;
    for (const QByteArray &line : TestSupport::readBytes(QStringLiteral("/proc/net/tcp")).split('\n')) {
        const QStringList cols = QString::fromLatin1(line).simplified().split(u' ');
        count += cols.size() > 3 && cols.at(2) == remote && cols.at(3) == QLatin1String("02");
    }
    return count;
}

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

    Link &link(int intervalMs = 3600 * 1000, const QString &port = QString())
    {
        m_link = std::make_unique<Link>(intervalMs);
        m_link->view.port = port.isNull() ? QString::number(m_server->port()) : port;
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
        gStartConnectLifeCnt = 3;
        gTryConnectActionCnt = 3;
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

    void cleanup()
    {
        m_link.reset();
        m_server.reset();
        m_dir.reset();
    }

    // --- the supervisor

    // Refused every time: a new attempt every 4 ticks, the user process after every third
    // failure, the timer off while it runs; the buttons stay off.
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
        struct Seen { qint32 tryCount; bool timer; int runs; QString panel1; bool buttons; qint32 lamp; };
        QList<Seen> seen;
        connect(&l.socket, &SocketControl::Error, this, [&] {
            seen << Seen{gTryConnectCount, l.timer.isActive(), markerRuns(), l.view.panel[1], l.view.buttons, l.view.lamp};
        });
        const QTime from = QTime::currentTime();
        l.view.version = QStringLiteral("01.20 Build: 18");
        l.view.lamp = 255;
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 6, kWait);
        l.timer.stop();
        for (int failure = 1; failure <= 6; ++failure) {
            const Seen &e = seen.at(failure - 1);
            QCOMPARE(e.tryCount, failure % 3);
            QCOMPARE(e.timer, failure % 3 != 0);
            // The process of the third failure runs after it, once, and before the fourth.
            QCOMPARE(e.runs, process ? (failure - 1) / 3 : 0);
            QVERIFY2(stampedBetween(e.panel1, "Try to reconnect ", from, QTime::currentTime()), qPrintable(e.panel1));
            QVERIFY(!e.buttons && e.lamp == 0);
        }
        QVERIFY(l.view.version.isNull());
        static constexpr qint32 kCycle[] = {2, 1, 0, 3};
        QVERIFY(l.ticks.size() >= 5 * 4);
        for (qsizetype i = 0; i < l.ticks.size(); ++i)
            QCOMPARE(l.ticks.at(i), kCycle[i % 4]);
    }

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
        const QTime from = QTime::currentTime();
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(l.socket.State(), qint32(SocketControl::sckConnected), kWait);
        QCOMPARE(errors, 2);
        QCOMPARE(gTryConnectCount, 0);
        QCOMPARE(l.supervisor.LifeCnt(), 45);
        QVERIFY(l.timer.isActive());
        QVERIFY(stampedBetween(l.view.panel[1], "Connected ", from, QTime::currentTime()));
        QCOMPARE(markerRuns(), 0);
        // A silent link is reopened on the tick after the countdown has run down, one below 0 too.
        l.timer.stop();
        l.supervisor.setLifeCnt(-2);
        l.supervisor.timControl_Timer();
        QCOMPARE(l.supervisor.LifeCnt(), gStartConnectLifeCnt);
        QTRY_COMPARE_WITH_TIMEOUT(l.socket.State(), qint32(SocketControl::sckConnected), kWait);
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
        l.view.panel[1] = QStringLiteral("before");
        gTryConnectCount = 2;
        l.supervisor.ConnectSideLink();
        QVERIFY(!l.timer.isActive());
        l.timer.start();
        QTRY_VERIFY(l.ticks.size() >= 5);
        l.timer.stop();
        QCOMPARE(l.ticks.count(0), l.ticks.size());
        QCOMPARE(l.socket.State(), qint32(SocketControl::sckClosed));
        QCOMPARE(l.view.panel[1], QStringLiteral("before"));
        QVERIFY(l.view.buttons);
        QCOMPARE(gTryConnectCount, 2);
        QVERIFY(m_server->peers.isEmpty());
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
        QString panelAtClose;
        connect(&l.socket, &SocketControl::Closed, this, [&] { panelAtClose = l.view.panel[1]; });
        m_server->peer()->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(!panelAtClose.isEmpty(), kWait);
        if (box == 1) {
            QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
            QTRY_VERIFY_WITH_TIMEOUT(l.view.panel[1].startsWith(QLatin1String("Connected ")), kWait);
            QVERIFY(l.ticks.isEmpty() && l.timer.isActive());
        } else {
            QCOMPARE(panelAtClose, QStringLiteral("Not Connected"));
            QVERIFY(!l.timer.isActive());
            QCOMPARE(l.socket.State(), qint32(SocketControl::sckClosing)); // no new attempt was made
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
        const qint64 took = acceptedAt.at(7) - acceptedAt.at(0);
        if (requestFirst)
            QVERIFY2(took >= 60, qPrintable(QStringLiteral("7 new links in %1 ms").arg(took)));
        else
            QVERIFY2(acceptedAt.size() <= l.ticks.size() + 2,
                     qPrintable(QStringLiteral("%1 links in %2 ticks").arg(acceptedAt.size()).arg(l.ticks.size())));
    }

    void silentServerReopened()
    {
        gStartLifeCnt = 5;
        Link &l = link(50);
        int connectedAt = -1;
        connect(&l.socket, &SocketControl::Connected, this, [&] {
            if (connectedAt < 0)
                connectedAt = int(l.ticks.size());
        });
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
        // Counted down on 5 ticks, reopened on the 6th.
        QCOMPARE(l.ticks.mid(connectedAt, 6), (QList<qint32>{4, 3, 2, 1, 0, 3}));
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->peers.at(0) || m_server->peers.at(0)->state() == QAbstractSocket::UnconnectedState,
                                 kWait);
        QCOMPARE(gTryConnectCount, 0);
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
                synSent << synSentTo(listener.port);
        });
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(l.attemptTicks().size() >= 4, kWait);
        l.timer.stop();
        QCOMPARE(l.attemptTicks().mid(0, 4), (QList<int>{4, 8, 12, 16}));
        QCOMPARE(synSent.mid(0, 4), (QList<int>{1, 1, 1, 1}));
        QVERIFY(mostSockets <= 1);
        QCOMPARE(errors, 0);
        QCOMPARE(gTryConnectCount, 0);
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
        QFETCH(QString, portSuffix);
        QTcpServer listener;
        const bool v6 = server.contains(QLatin1String("::"));
        if (!listener.listen(v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0) && v6)
            QSKIP("this machine has no IPv6 loopback");
        Link &l = link(3600 * 1000, QString::number(listener.serverPort()) + portSuffix);
        l.view.server = server;
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), kWait);
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
        QCOMPARE(gTryConnectCount, 0);
        QVERIFY(!l.timer.isActive());

        connect(&l.socket, &SocketControl::Error, &l.supervisor, [&] { l.supervisor.Unload(); });
        l.supervisor.ConnectSideLink();
        QTRY_COMPARE_WITH_TIMEOUT(markerRuns(), 1, kWait);
        QCoreApplication::processEvents();
        QVERIFY(!l.timer.isActive());
    }

    // --- the messages

    // A session as the server orders it: sign of life, a profile series, the order to connect.
    void sessionOrderedByTheServer()
    {
        Link &l = connected();
        expectAnswer(command(2, 99), kLifeAnswer, "SignOfLife "); // the request's argument plays no part
        expectAnswer(profile(1, 3, "op1"), command(7, 1), "Get Remotedata");
        expectAnswer(profile(2, 3, "op2", 3), command(7, 2));
        QCOMPARE(l.view.calls, (QStringList{"show op1", "show op2"})); // no list before the last one
        expectAnswer(profile(3, 3, "op3", 5), command(7, 3));
        QCOMPARE(l.view.calls.mid(2), (QStringList{"show op3", "list 3"}));
        QCOMPARE(gUsersConfig->Item(2)->Password(), QStringLiteral("pw-op2"));
        QCOMPARE(gUsersConfig->Item(2)->Resolution(), 3);

        l.view.calls.clear();
        expectAnswer(command(11, 2) + kLife, command(3, 1), "SignOfLife "); // started, not yet connected
        QCOMPARE(l.view.calls, (QStringList{"select 1", "show op2", "connect"}));
        gRdpConnected = true;
        expectAnswer(kLife, command(3, 3));
        // A new series drops the old list at once.
        expectAnswer(profile(1, 1, "new"), command(7, 1));
        QCOMPARE(gUsersConfig->Count(), 1);
    }

    void identification_data()
    {
        QTest::addColumn<int>("v");
        QTest::addColumn<QString>("shown"); // null: the labels stay as they were
        QTest::newRow("1020018") << 1020018 << "01.20 Build: 18";
        QTest::newRow("0") << 0 << QString();
    }
    void identification()
    {
        QFETCH(int, v);
        QFETCH(QString, shown);
        Link &l = connected();
        l.view.version = QStringLiteral("before");
        expectAnswer(command(4, v), identity(), "MachineName");
        QCOMPARE(l.view.version, shown.isNull() ? QStringLiteral("before") : shown);
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
        QCOMPARE(l.view.lamp, colour);
        QCOMPARE(l.view.buttons, colour != 255);
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
        bool arrivedMeanwhile = false;
        m_onMachine = [&] {
            m_server->send(command(4, 0));
            QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, kWait);
            arrivedMeanwhile = true;
        };
        expectAnswer(command(13, 1) + kLife, kLifeAnswer + identity());
        QVERIFY(arrivedMeanwhile);
        m_onMachine = nullptr;

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
        const auto row = [](const QByteArray &name, const QByteArray &frame, const QString &panel2, int flags = -1) {
            QTest::newRow(name.constData()) << frame << panel2 << flags;
        };
        const QString mismatch = QStringLiteral("error:13 Type mismatch"), overflow = QStringLiteral("error:6 Overflow");
        const QString range = QStringLiteral("error:9 Subscript out of range");
        const QString invalid = QStringLiteral("error:380 Invalid property value");
        row("non-numeric cmd", kMarker, mismatch);
        row("missing argument", "@#cmd:4###@", mismatch);
        row("profile 2 with no list", profile(2, 3, "op2"), range);
        row("argument beyond 32 bits", command(2, 2147483648LL), overflow);
        // With two profiles listed: a connect order for none of them connects nothing.
        row("connect one beyond", command(11, 3), invalid);
        row("connect beyond 16 bits", command(11, 40000), overflow);
        row("connect none chosen", command(11, 0), range);
        // Followed by the marker: panel 2 shows its error once they have been handled.
        for (int cmd : {1, 3, 5, 7, 9, 10, 12, 14})
            row("cmd " + QByteArray::number(cmd),
                "@#cmd:" + QByteArray::number(cmd) + "##Argument:1##ClientName:X###@" + kMarker, mismatch);
        row("no frame at all", "hello" + kMarker, mismatch);
        // This platform is not of the NT family, so the flags are those for the other systems.
        row("log off", command(13, 0), "before", 0);
        row("restart", command(13, 1), "before", 3);
        row("shut down", command(13, 2), "before", 1);
        row("shut down, forced", command(13, 3), "before", 1);
        row("unknown exit mode", command(13, 4) + kMarker, mismatch);
    }
    void unansweredFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, panel2);
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
        QTRY_COMPARE_WITH_TIMEOUT(l.view.panel[2], panel2, kWait);
        QCOMPARE(l.supervisor.LifeCnt(), 7);
        QCOMPARE(l.view.panel[1], panel1);
        QVERIFY(!l.view.calls.contains(QStringLiteral("connect")));
        // The link goes on working, and nothing was sent for the frame.
        expectAnswer(kLife, kLifeAnswer);
        QCOMPARE(m_server->received, kLifeAnswer);
        QCOMPARE(m_machine, machine);
    }

    // The panel's own requests; one that cannot be sent says why in panel 2.
    void panelRequests()
    {
        Link &l = connected();
        QVERIFY(l.messages.Send(SideLinkCommand::ConnectionRequest, 3));
        QVERIFY(l.messages.Send(SideLinkCommand::ExitRequest, 1));
        QTRY_COMPARE(m_server->received, QByteArray("@#cmd:10##Argument:3###@@#cmd:12##Argument:1###@"));
        l.socket.Close();
        QVERIFY(!l.messages.Send(SideLinkCommand::ExitRequest, 3));
        QCOMPARE(l.view.panel[2],
                 QStringLiteral("error:40006 Wrong protocol or connection state for the requested transaction or request"));
    }

    // The panel against the side-link console, a real process.
    void consoleAndPanel()
    {
        QProcess console;
        QByteArray out;
        connect(&console, &QProcess::readyReadStandardOutput, this, [&] { out += console.readAllStandardOutput(); });
        console.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), {QStringLiteral("--port"), QStringLiteral("0")});
        const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(listening.match(QString::fromUtf8(out)).hasMatch(), kWait);
        Link &l = link(3600 * 1000, listening.match(QString::fromUtf8(out)).captured(1));
        l.supervisor.ConnectSideLink();
        QTRY_VERIFY_WITH_TIMEOUT(out.contains(" connected\n"), kWait);

        console.write("life\nidentify 1.20.18\nusers op1:pw1:0 op2:pw2:1\nlock locked connected OP2\n");
        QTRY_VERIFY_WITH_TIMEOUT(out.contains("cmd 9 remote status received"), kWait);
        QVERIFY(out.contains("cmd 3 sign of life | Argument 0 = no remote desktop session"));
        const VersionNumbers::Parts version = VersionNumbers::DecodePanelVersion(
            VersionNumbers::PanelVersionNumber(Version::Major, Version::Minor, Version::Revision));
        QVERIFY(out.contains(QStringLiteral("= panel version %1.%2.%3 | ClientName: %4")
                                 .arg(version.major).arg(version.minor).arg(version.build)
                                 .arg(modSystemBasic::GetLocalComputerName()).toUtf8()));
        QVERIFY(out.contains("cmd 7 profile received | Argument 2 = profile 2"));
        QCOMPARE(l.view.panel[2], QStringLiteral("Locked : Client OP2 connected!"));
        QCOMPARE(l.view.version, QStringLiteral("01.20 Build: 18"));

        console.write("restart\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_machine, QList<quint32>{3u}, kWait);
        console.write("quit\n");
        QVERIFY(console.waitForFinished(kWait));
    }
};

QTEST_GUILESS_MAIN(tst_SideLink)
#include "tst_SideLink.moc"
