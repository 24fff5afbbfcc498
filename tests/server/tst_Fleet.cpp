// The fleet with panels on loopback: the conversation, the lock among panels, the panels' requests,
// reloads, limits, and links that misbehave.
#include "SimulatedPanel.h"
#include "TestSupport.h"
#include "server/Fleet.h"
#include "serverlink/SideLinkCommand.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestSupport;

namespace {

constexpr qint32 SignOfLifeRequest = Number(SideLinkCommand::SignOfLifeRequest);
constexpr qint32 Identify = Number(SideLinkCommand::IdentifyRequest);
constexpr qint32 Profile = Number(SideLinkCommand::UserProfile);
constexpr qint32 Status = Number(SideLinkCommand::RemoteStatus);
constexpr qint32 ConnectOrder = Number(SideLinkCommand::ConnectOrder);
constexpr qint32 ExitOrder = Number(SideLinkCommand::ExitOrder);

const QStringList kProfiles{"[profile a]", "user = op1", "password = pw1", "resolution = 3", "[profile b]", "user = op2"};

} // namespace

class tst_Fleet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Fleet> m_fleet;
    std::vector<std::unique_ptr<SimulatedPanel>> m_panels;

    ServerConfig config(const QStringList &lines, quint16 port = 0)
    {
        QFile file(m_dir.filePath("server.conf"));
        file.open(QIODevice::WriteOnly);
        file.write((QStringList{"[server]", "listen = 127.0.0.1", QStringLiteral("port = %1").arg(port ? port : refusingPort()),
                                "interval = 1", "dashboard ="} + lines).join(u'\n').toUtf8());
        file.close();
        ServerConfig result;
        QString error;
        if (!ServerConfigFile::Load(file.fileName(), result, error))
            qWarning() << error;
        return result;
    }
    bool start(const QStringList &lines)
    {
        m_fleet = std::make_unique<Fleet>();
        QString error;
        return m_fleet->start(config(lines), error);
    }
    SimulatedPanel &panel(const QString &name)
    {
        m_panels.push_back(std::make_unique<SimulatedPanel>(name));
        m_panels.back()->connectTo(m_fleet->port());
        return *m_panels.back();
    }
    // A panel that has its profiles and its first remote status.
    SimulatedPanel &ready(const QString &name)
    {
        SimulatedPanel &p = panel(name);
        if (!QTest::qWaitFor([&] { return p.count(Status) > 0; }, kWait))
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
        SimulatedPanel &p = panel("OP1");
        p.acknowledge = acknowledge;
        p.session = 3;
        QTRY_VERIFY_WITH_TIMEOUT(p.count(Status) == 1, kWait);
        QCOMPARE(p.frames.mid(0, 5), QStringList({"@#cmd:4##Argument:2003045###@", "@#cmd:2##Argument:0###@",
                                                  "@#cmd:6##Argument:1##NrOfUsers:2##Username:op1##Password:pw1##Resolution:3###@",
                                                  "@#cmd:6##Argument:2##NrOfUsers:2##Username:op2##Password:##Resolution:0###@",
                                                  "@#cmd:8##Argument:0##ClientName:##Connnect:False###@"}));
        QTRY_VERIFY_WITH_TIMEOUT(p.count(SignOfLifeRequest) >= 4, kWait);
        QCOMPARE(p.count(Profile) > 2, !acknowledge);
        QCOMPARE(p.count(Identify), 1);
        const QList<PanelInfo> panels = m_fleet->panels();
        QCOMPARE(panels.size(), 1);
        const PanelInfo &info = panels.first();
        QCOMPARE(QStringList({info.name, info.address, info.version, info.link, QString::number(info.session)}),
                 QStringList({"OP1", "127.0.0.1", "1.20.18", "up", "3"}));
        QVERIFY(info.rttMs >= 0 && info.rttMs < 1000 && qAbs(info.lastSeen - QDateTime::currentMSecsSinceEpoch()) < 2000);
        p.socket.disconnectFromHost();
        QTRY_COMPARE(m_fleet->panels().value(0).link, QStringLiteral("down"));
        QCOMPARE(m_fleet->orderExit("op1", 0), Fleet::Outcome::NotConnected);
        QCOMPARE(m_fleet->orderExit("OP9", 0), Fleet::Outcome::UnknownPanel);
    }

    // One panel at a time: the grant, the others told with the holder's name, a refusal, the lapse.
    void lock()
    {
        QVERIFY(start(QStringList{"release-after = 1"} + kProfiles + QStringList{"[panel default]", "profiles = a, b"}));
        SimulatedPanel &a = ready("OP1"), &b = ready("OP2");
        QSignalSpy server(m_fleet.get(), &Fleet::serverChanged);
        a.session = 1;
        a.send(Number(SideLinkCommand::ConnectionRequest), 2);
        QTRY_COMPARE(a.last(ConnectOrder), QStringLiteral("@#cmd:11##Argument:2###@"));
        QTRY_COMPARE(b.last(Status), QStringLiteral("@#cmd:8##Argument:1##ClientName:OP1##Connnect:True###@"));
        QCOMPARE(a.last(Status), QStringLiteral("@#cmd:8##Argument:0##ClientName:OP1##Connnect:True###@"));
        QCOMPARE(m_fleet->panels().value(0).profile, QStringLiteral("b"));
        QVERIFY(server.size() == 1 && m_fleet->state().locked && m_fleet->state().holder == "OP1");
        b.send(Number(SideLinkCommand::ConnectionRequest), 1);
        QCOMPARE(m_fleet->orderConnect("OP2", 1), Fleet::Outcome::Locked);
        QCOMPARE(m_fleet->orderConnect("OP2", 3), Fleet::Outcome::NoSuchProfile);
        // While the session lasts (well beyond the release time) the lock holds.
        const int rounds = a.count(SignOfLifeRequest);
        QTRY_VERIFY_WITH_TIMEOUT(a.count(SignOfLifeRequest) >= rounds + 3, kWait);
        QVERIFY(b.count(ConnectOrder) == 0 && m_fleet->state().locked);
        a.session = 0;
        QTRY_COMPARE_WITH_TIMEOUT(b.last(Status), QStringLiteral("@#cmd:8##Argument:0##ClientName:##Connnect:False###@"), kWait);
        QVERIFY(!m_fleet->state().locked && m_fleet->panels().value(0).profile.isEmpty());
        QCOMPARE(m_fleet->orderConnect("op2", 1), Fleet::Outcome::Sent);
        QTRY_COMPARE(a.last(Status), QStringLiteral("@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@"));
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
        SimulatedPanel &p = ready("OP1");
        p.send(Number(SideLinkCommand::ExitRequest), request);
        // Frames are handled in order: once the connection request is answered, so was the one before.
        p.send(Number(SideLinkCommand::ConnectionRequest), 1);
        QTRY_VERIFY(p.count(ConnectOrder) == 1);
        QCOMPARE(p.last(ExitOrder), order);
    }

    // A reload keeps every link; only the panel whose profiles changed gets a series, the new mode
    // reaches the others at once, and a new port is listened on.
    void reload()
    {
        const QStringList panels{"[panel OP1]", "profiles = a", "[panel default]", "profiles = b"};
        QVERIFY(start(kProfiles + panels));
        SimulatedPanel &a = ready("OP1"), &b = ready("OP2");
        QCOMPARE(m_fleet->orderConnect("OP1", 1), Fleet::Outcome::Sent);
        QTRY_COMPARE(b.last(Status), QStringLiteral("@#cmd:8##Argument:1##ClientName:OP1##Connnect:True###@"));
        QSignalSpy dropped(&b.socket, &QTcpSocket::disconnected);
        const int before = b.count(Profile);
        QString error;
        QStringList changed = kProfiles + panels;
        changed.replace(changed.indexOf("password = pw1"), "password = new");
        const quint16 port = refusingPort();
        QVERIFY2(m_fleet->reload(config(QStringList{"mode = shared"} + changed, port), error), qPrintable(error));
        QTRY_COMPARE(a.last(Profile), QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:op1##Password:new##Resolution:3###@"));
        QTRY_COMPARE(b.last(Status), QStringLiteral("@#cmd:8##Argument:0##ClientName:OP1##Connnect:True###@"));
        QCOMPARE(m_fleet->port(), port);
        SimulatedPanel &c = ready("OP3");
        QVERIFY(c.count(Profile) == 1 && b.count(Profile) == before && dropped.isEmpty());
        QCOMPARE(m_fleet->connectedNames(), QStringList({"OP1", "OP2", "OP3"}));
        // A port taken by another: refused, the running configuration kept.
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        QVERIFY(!m_fleet->reload(config(changed, taken.serverPort()), error));
        QVERIFY2(error.contains(QString::number(taken.serverPort())), qPrintable(error));
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
        QList<SimulatedPanel *> links;
        for (const QString name : {"A", "B", "C"}) {
            links << &panel(name);
            QTRY_VERIFY(links.last()->count(Identify) == 1 || links.last()->socket.state() == QAbstractSocket::UnconnectedState);
        }
        for (int i = 0; i < 3; ++i)
            QCOMPARE(links[i]->count(Identify), i < served ? 1 : 0);
        QTRY_COMPARE(m_fleet->connectedNames().size(), served);
    }

    // Noise, frames in pieces and floods cost only the link that sends them; a panel that reads
    // nothing is let go once its replies pile up.
    void misbehaving()
    {
        QVERIFY(start(kProfiles + QStringList{"[panel default]", "profiles = a"}));
        SimulatedPanel &p = panel("");
        QTRY_VERIFY(p.count(Identify) == 1);
        p.send(QString(FrameStream::MaxFrame * 2, u'x') + "@#cmd:5##Argument:0##ClientName:##@#cmd:5##Argument:0##ClientName:NOISY###@junk");
        for (const char c : QByteArray("@#cmd:10##Argument:1###@"))
            p.socket.write(&c, 1), p.socket.flush();
        SimulatedPanel &quiet = ready("QUIET");
        QTRY_COMPARE(m_fleet->connectedNames(), QStringList({"NOISY", "QUIET"}));
        QTRY_VERIFY(p.count(ConnectOrder) == 1);
        // A panel that stops reading: its system buffer is small, it takes nothing in.
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
