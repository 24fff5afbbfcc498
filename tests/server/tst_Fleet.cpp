// The fleet with panels on loopback: the conversation, the lock among panels, the panels' requests,
// reloads, limits, and links that misbehave.
#include "SimulatedPanel.h"
#include "TestSupport.h"
#include "server/Fleet.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;
using enum SideLinkCommand;

const QStringList kProfiles{"[profile a]", "user = op1", "password = pw1", "resolution = 3", "[profile b]", "user = op2"};
const QString kFree = "@#cmd:8##Argument:0##ClientName:##Connnect:False###@";
QString status(int argument, const QString &client) { return QStringLiteral("@#cmd:8##Argument:%1##ClientName:%2##Connnect:True###@").arg(argument).arg(client); }

class tst_Fleet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Fleet> m_fleet;
    std::vector<std::unique_ptr<SimulatedPanel>> m_panels;

    ServerConfig config(const QStringList &lines, quint16 port = 0)
    {
        writeBytes(m_dir.filePath("server.conf"), (QStringList{"[server]", "listen = 127.0.0.1", "interval = 1", "dashboard =",
                                                               QStringLiteral("port = %1").arg(port ? port : refusingPort())} + lines).join(u'\n').toUtf8());
        ServerConfig result;
        QString error;
        if (!ServerConfigFile::Load(m_dir.filePath("server.conf"), result, error))
            qWarning() << error;
        return result;
    }
    bool start(const QStringList &lines)
    {
        QString error;
        return (m_fleet = std::make_unique<Fleet>())->apply(config(lines), error);
    }
    // A panel connected; with ready, once it has its profiles and its first status.
    SimulatedPanel &panel(const QString &name, bool ready = true)
    {
        SimulatedPanel &p = *m_panels.emplace_back(std::make_unique<SimulatedPanel>(name));
        p.connectTo(m_fleet->port());
        if (ready && !QTest::qWaitFor([&] { return p.count(RemoteStatus) > 0; }, kWait))
            qWarning() << name << "got no status";
        return p;
    }

private slots:
    void cleanup()
    {
        m_panels.clear();
        m_fleet.reset();
    }

    // Greeted, identified, given its profiles and the status after them; each round a sign of life,
    // and a series not acknowledged within a round sent again.
    void conversation_data()
    {
        QTest::addColumn<bool>("acknowledge");
        QTest::newRow("acknowledged") << true;
        QTest::newRow("never acknowledged") << false;
    }
    void conversation()
    {
        QFETCH(bool, acknowledge);
        QVERIFY(start(QStringList{"version = 2.3.45"} + kProfiles + QStringList{"[panel default]", "profiles = a, b"}));
        SimulatedPanel &p = panel("OP1", false);
        p.acknowledge = acknowledge;
        p.session = 3;
        QTRY_VERIFY_WITH_TIMEOUT(p.count(SignOfLifeRequest) >= 4, kWait);
        QCOMPARE(p.frames.mid(0, 5), QStringList({"@#cmd:4##Argument:2003045###@", "@#cmd:2##Argument:0###@",
                                                  "@#cmd:6##Argument:1##NrOfUsers:2##Username:op1##Password:pw1##Resolution:3###@",
                                                  "@#cmd:6##Argument:2##NrOfUsers:2##Username:op2##Password:##Resolution:0###@", kFree}));
        QVERIFY((p.count(UserProfile) > 2) == !acknowledge && p.count(IdentifyRequest) == 1);
        // Read as the next sign of life comes in, so that a busy machine's late round cannot age it.
        const qint64 seen = m_fleet->panels().value(0).lastSeen;
        QTRY_VERIFY_WITH_TIMEOUT(m_fleet->panels().value(0).lastSeen > seen, kWait);
        const PanelInfo info = m_fleet->panels().value(0);
        QCOMPARE(QStringList({info.name, info.address, info.version, info.link, QString::number(info.session)}),
                 QStringList({"OP1", "127.0.0.1", "1.20.18", "up", "3"}));
        QVERIFY(info.rttMs >= 0 && info.rttMs < 1000 && qAbs(info.lastSeen - QDateTime::currentMSecsSinceEpoch()) < 2000);
        p.socket.disconnectFromHost();
        QTRY_COMPARE(m_fleet->panels().value(0).link, QStringLiteral("down"));
        QVERIFY(m_fleet->orderExit("op1", 0) == Fleet::Outcome::NotConnected && m_fleet->orderExit("OP9", 0) == Fleet::Outcome::UnknownPanel);
    }

    // One panel at a time: the grant, the others told with the holder's name, a refusal, the lapse.
    void lock()
    {
        QVERIFY(start(QStringList{"release-after = 1"} + kProfiles + QStringList{"[panel default]", "profiles = a, b"}));
        SimulatedPanel &a = panel("OP1"), &b = panel("OP2");
        QSignalSpy server(m_fleet.get(), &Fleet::serverChanged);
        a.session = 1;
        a.send(ConnectionRequest, 2);
        QTRY_COMPARE(a.last(ConnectOrder), QStringLiteral("@#cmd:11##Argument:2###@"));
        QTRY_COMPARE(b.last(RemoteStatus), status(1, "OP1"));
        QVERIFY(a.last(RemoteStatus) == status(0, "OP1") && m_fleet->panels().value(0).profile == "b");
        QVERIFY(server.size() == 1 && m_fleet->state().locked && m_fleet->state().holder == "OP1");
        b.send(ConnectionRequest, 1);
        QCOMPARE(m_fleet->orderConnect("OP2", 1), Fleet::Outcome::Locked);
        QCOMPARE(m_fleet->orderConnect("OP2", 3), Fleet::Outcome::NoSuchProfile);
        // While the session lasts, well beyond the release time, the lock holds.
        const int rounds = a.count(SignOfLifeRequest);
        QTRY_VERIFY_WITH_TIMEOUT(a.count(SignOfLifeRequest) >= rounds + 3, kWait);
        QVERIFY(b.count(ConnectOrder) == 0 && m_fleet->state().locked);
        a.session = 0;
        QTRY_COMPARE_WITH_TIMEOUT(b.last(RemoteStatus), kFree, kWait);
        QVERIFY(!m_fleet->state().locked && m_fleet->panels().value(0).profile.isEmpty());
        QCOMPARE(m_fleet->orderConnect("op2", 1), Fleet::Outcome::Sent);
        QTRY_COMPARE(a.last(RemoteStatus), status(1, "OP2"));
    }

    // Restart (1) and turn off (3) granted only as the panel's section allows; anything else unanswered.
    void exitRequest_data()
    {
        QTest::addColumn<QString>("permissions");
        QTest::addColumn<int>("request");
        QTest::addColumn<QString>("order");
        QTest::newRow("restart allowed") << "restart = yes" << 1 << "@#cmd:13##Argument:1###@";
        QTest::newRow("turn off allowed") << "turn-off = yes" << 3 << "@#cmd:13##Argument:3###@";
        QTest::newRow("restart, only turn off allowed") << "turn-off = yes" << 1 << "";
        QTest::newRow("turn off, nothing allowed") << "restart = no" << 3 << "";
        QTest::newRow("an unknown request") << "restart = yes" << 2 << "";
    }
    void exitRequest()
    {
        QFETCH(QString, permissions);
        QFETCH(int, request);
        QFETCH(QString, order);
        QVERIFY(start(kProfiles + QStringList{"[panel OP*]", "profiles = a", permissions}));
        SimulatedPanel &p = panel("OP1");
        p.send(ExitRequest, request);
        // Frames are handled in order: once the connection request is answered, so was the one before.
        p.send(ConnectionRequest, 1);
        QTRY_VERIFY(p.count(ConnectOrder) == 1);
        QCOMPARE(p.last(ExitOrder), order);
    }

    // A reload keeps every link; only the panel whose profiles changed gets a series, the new mode
    // reaches the others at once, and a new port is listened on, unless it cannot be had.
    void reload()
    {
        QStringList lines = kProfiles + QStringList{"[panel OP1]", "profiles = a", "[panel default]", "profiles = b"};
        QVERIFY(start(lines));
        SimulatedPanel &a = panel("OP1"), &b = panel("OP2");
        QCOMPARE(m_fleet->orderConnect("OP1", 1), Fleet::Outcome::Sent);
        QTRY_COMPARE(b.last(RemoteStatus), status(1, "OP1"));
        QSignalSpy dropped(&b.socket, &QTcpSocket::disconnected);
        const int before = b.count(UserProfile);
        QString error;
        lines.replace(lines.indexOf("password = pw1"), "password = new");
        const quint16 port = refusingPort();
        QVERIFY2(m_fleet->apply(config(QStringList{"mode = shared"} + lines, port), error), qPrintable(error));
        QTRY_COMPARE(a.last(UserProfile), QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:op1##Password:new##Resolution:3###@"));
        QTRY_COMPARE(b.last(RemoteStatus), status(0, "OP1"));
        QVERIFY(panel("OP3").count(UserProfile) == 1 && b.count(UserProfile) == before && dropped.isEmpty());
        QCOMPARE(m_fleet->connectedNames(), QStringList({"OP1", "OP2", "OP3"}));
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        QVERIFY(!m_fleet->apply(config(lines, taken.serverPort()), error) && error.contains(QString::number(taken.serverPort())));
        QVERIFY(m_fleet->port() == port && m_fleet->config().mode == LockMode::Shared);
    }

    // Links beyond the limits, or from addresses not allowed, are closed at once; the others stay.
    void refusals_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("served"); // of three links
        QTest::newRow("links per address") << "max-links-per-address = 2" << 2;
        QTest::newRow("links") << "max-links = 1" << 1;
        QTest::newRow("address not allowed") << "allow = 10.0.0.0/8, ::1" << 0;
        QTest::newRow("address allowed") << "allow = 127.0.0.*" << 3;
    }
    void refusals()
    {
        QFETCH(QString, line);
        QFETCH(int, served);
        QVERIFY(start({line}));
        for (int i = 0; i < 3; ++i) {
            SimulatedPanel &p = panel(QString::number(i), false);
            QTRY_VERIFY(p.count(IdentifyRequest) == 1 || p.socket.state() == QAbstractSocket::UnconnectedState);
            QCOMPARE(p.count(IdentifyRequest), i < served ? 1 : 0);
        }
        QTRY_COMPARE(m_fleet->connectedNames().size(), served);
    }

    // Noise, frames in pieces and floods cost only the link that sends them; a panel that reads
    // nothing is let go once its replies pile up.
    void misbehaving()
    {
        QVERIFY(start(kProfiles + QStringList{"[panel default]", "profiles = a"}));
        SimulatedPanel &p = panel("", false);
        QTRY_VERIFY(p.count(IdentifyRequest) == 1);
        p.send(QString(FrameStream::MaxFrame * 2, u'x') + "@#cmd:5##Argument:0##ClientName:##@#cmd:5##Argument:0##ClientName:NOISY###@junk");
        for (const char c : QByteArray("@#cmd:10##Argument:1###@"))
            p.socket.write(&c, 1), p.socket.flush();
        SimulatedPanel &quiet = panel("QUIET");
        QTRY_COMPARE(m_fleet->connectedNames(), QStringList({"NOISY", "QUIET"}));
        QTRY_VERIFY(p.count(ConnectOrder) == 1);
        // It takes nothing in, and its system buffer is small.
        quiet.socket.setReadBufferSize(1);
        quiet.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        for (int burst = 0; burst < 1000 && m_fleet->connectedNames().contains("QUIET"); ++burst) {
            for (int i = 0; i < 1000; ++i)
                m_fleet->orderExit("QUIET", 0);
            QTest::qWait(1);
        }
        QCOMPARE(m_fleet->connectedNames(), QStringList({"NOISY"}));
    }
};

QTEST_GUILESS_MAIN(tst_Fleet)
#include "tst_Fleet.moc"
