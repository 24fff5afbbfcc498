#include "client/Forms.h"
#include "client/frmClient.h"
#include "client/frmClient_Messages.h"
#include "client/VbControls.h"
#include "serverlink/SocketControl.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <functional>
#include <memory>

using namespace modGlobClientVar;
using TestSupport::kWait;
using TestSupport::stampedBetween;

namespace {

const QByteArray kLife = "@#cmd:2##Argument:0###@";
const QByteArray kLifeAnswer = "@#cmd:3##Argument:0###@";

QByteArray answer5()
{
    return "@#cmd:5##Argument:-2146463630##ClientName:" + modSystemBasic::GetLocalComputerName().toLatin1() + "###@";
}

QByteArray profile(int n, int count, const char *name, const char *password, int resolution)
{
    return QStringLiteral("@#cmd:6##Argument:%1##NrOfUsers:%2##Username:%3##Password:%4##Resolution:%5###@")
        .arg(n).arg(count).arg(QLatin1String(name), QLatin1String(password)).arg(resolution).toLatin1();
}

} // namespace

// Helpers that verify end the test when they fail.
#define CHECKED(call)                                                                                                  \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)
#define START_PANEL() CHECKED(startPanel())
#define EXPECT_ANSWER(frame, answer) CHECKED(expectAnswer(frame, answer))

class tst_Messages : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::LoopbackServer> m_server;
    QList<quint32> m_machine; // flags of each machine call
    std::function<void()> m_onMachine; // runs inside the machine call
    frmClient *m_form = nullptr;

    void startPanel()
    {
        m_form = &TestSupport::LoadPanel(*m_dir, {"txtServer=127.0.0.1", QStringLiteral("txtPort=%1").arg(m_server->port()),
                                                  "txtUserName=op", "txtPassword=", "chkUserPass=1", "cboResolution=3",
                                                  "AutoConnect=1", "StartConnectLifeCnt=3", "StartLifeCnt=45"});
        QTRY_VERIFY_WITH_TIMEOUT(m_form->Winsock->State() == SocketControl::sckConnected, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->peer(), kWait);
        m_form->mLifeCnt = 7;
    }

    void expectAnswer(const QByteArray &frame, const QByteArray &answer)
    {
        QVERIFY(m_server->peer());
        const QByteArray before = m_server->received;
        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->received, before + answer, kWait);
    }

    void expectNothingSent(const QByteArray &frame)
    {
        const QByteArray before = m_server->received;
        m_server->send(frame);
        EXPECT_ANSWER(kLife, kLifeAnswer);
        QCOMPARE(m_server->received, before + kLifeAnswer);
    }

private slots:
    void initTestCase()
    {
        // The control timer would reopen a quiet link; these tests drive the link themselves.
        frmClient::TimerIntervalMs = 3600 * 1000;
        modSystemBasic::SetMachineControl([this](quint32 flags, quint32 reserved) {
            QCOMPARE(reserved, 0xFFFFFFFFu);
            m_machine.append(flags);
            if (m_onMachine)
                m_onMachine();
        });
    }

    void init()
    {
        RecordingSessionControl::install();
        m_machine.clear();
        m_onMachine = nullptr;
        gStartLifeCnt = 45;
        gStartConnectLifeCnt = 3;
        gTryConnectActionCnt = 3;
        gTryConnectCount = 0;
        gUserProcessName.clear();
        gUsersConfig.reset();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_server = std::make_unique<TestSupport::LoopbackServer>();
        QVERIFY(m_server->listening);
    }

    void cleanup()
    {
        TestSupport::UnloadForms();
        m_form = nullptr;
        m_server.reset();
        m_dir.reset();
        gUsersConfig.reset();
    }

    void panelVersionMinorIn16Bits()
    {
        QCOMPARE(qint64(frmClientMessages::PanelVersionNumber(1, 32, 767)), -2147483648LL + 1032767);
        QCOMPARE(TestSupport::errorOf([] { (void)frmClientMessages::PanelVersionNumber(1, 33, 0); }), 6); // overflow
    }

    void signOfLifeAndConnect()
    {
        START_PANEL();
        QTime from = QTime::currentTime();
        EXPECT_ANSWER("@#cmd:2##Argument:99###@", kLifeAnswer); // the request's argument plays no part
        QVERIFY2(stampedBetween(m_form->PanelText(1), "SignOfLife ", from, QTime::currentTime()),
                 qPrintable(m_form->PanelText(1)));
        QCOMPARE(m_form->mLifeCnt, 45);

        EXPECT_ANSWER(profile(1, 2, "op1", "pw1", 0) + profile(2, 2, "op2", "pw2", 3),
                      "@#cmd:7##Argument:1###@@#cmd:7##Argument:2###@");
        m_form->mLifeCnt = 7;
        from = QTime::currentTime();
        m_server->send("@#cmd:11##Argument:2###@");
        QTRY_VERIFY_WITH_TIMEOUT(gRdpStarted, kWait);
        QVERIFY2(stampedBetween(m_form->PanelText(1), "RemoteConnection", from, QTime::currentTime()),
                 qPrintable(m_form->PanelText(1)));
        QCOMPARE(m_form->mLifeCnt, 45);
        QCOMPARE(m_form->cboUsername->currentIndex(), 1);
        RecordingSessionControl *control = RecordingSessionControl::last();
        QVERIFY(control && control->callNames().contains("Connect"));
        QCOMPARE(control->UserName(), QStringLiteral("op2"));
        QCOMPARE(control->DesktopWidth(), 1024);

        EXPECT_ANSWER(kLife, "@#cmd:3##Argument:1###@"); // started, not yet connected
        control->raiseConnected();
        QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
        EXPECT_ANSWER(kLife, "@#cmd:3##Argument:3###@");
    }

    void identification_data()
    {
        QTest::addColumn<int>("v");
        QTest::addColumn<QString>("shown"); // empty: the labels stay as they were
        QTest::newRow("1020018") << 1020018 << "01.20 Build: 18";
        QTest::newRow("2003045") << 2003045 << "02.03 Build: 45";
        QTest::newRow("1020600") << 1020600 << "01.20 Build: 600";
        QTest::newRow("major beyond 999 wraps") << 1234005006 << "234.05 Build: 6";
    QTest::newRow("negative") << -1020018 << "-01.-20 Build: -18";
    QTest::newRow("least number") << int(-2147483647 - 1) << "-147.-483 Build: -648";
    QTest::newRow("0") << 0 << QString();
    }

    void identification()
    {
        QFETCH(int, v);
        QFETCH(QString, shown);
        START_PANEL();
        m_form->lblServerVersion->setText(QStringLiteral("before"));
        const QTime from = QTime::currentTime();
        EXPECT_ANSWER(QStringLiteral("@#cmd:4##Argument:%1###@").arg(v).toLatin1(), answer5());
        QVERIFY2(stampedBetween(m_form->PanelText(1), "MachineName", from, QTime::currentTime()),
                 qPrintable(m_form->PanelText(1)));
        QCOMPARE(m_form->mLifeCnt, 45);
        QCOMPARE(m_form->lblServerVersion->text(), shown.isEmpty() ? QStringLiteral("before") : shown);
        QCOMPARE(m_form->lblServerVersion->isHidden(), shown.isEmpty());
        QCOMPARE(m_form->lblServerVersionLabel->isHidden(), shown.isEmpty());
    }

    void profileSeriesOfThree()
    {
        START_PANEL();
        const QTime from = QTime::currentTime();
        EXPECT_ANSWER(profile(1, 3, "op1", "pw1", 0), "@#cmd:7##Argument:1###@");
        QVERIFY2(stampedBetween(m_form->PanelText(1), "Get Remotedata", from, QTime::currentTime()),
                 qPrintable(m_form->PanelText(1)));
        EXPECT_ANSWER(profile(2, 3, "op2", "pw2", 2), "@#cmd:7##Argument:2###@");
        QCOMPARE(m_form->txtUserName->text(), QStringLiteral("op2"));
        QVERIFY(m_form->cboUsername->isHidden()); // not shown before the last one

        m_form->mLifeCnt = 7;
        EXPECT_ANSWER(profile(3, 3, "op3", "pw3", 5), "@#cmd:7##Argument:3###@");
        QCOMPARE(m_form->mLifeCnt, 45);
        QVERIFY(!m_form->cboUsername->isHidden());
        QCOMPARE(m_form->cboUsername->count(), 3);
        QCOMPARE(m_form->cboUsername->itemText(2), QStringLiteral("op3"));
        QCOMPARE(m_form->txtUserName->text(), QStringLiteral("op1")); // profile 1 at the end
    }

    void remoteStatus_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("colour");
        QTest::addColumn<QString>("panel2");
        const auto row = [](const char *name, const char *fields, bool enabled, int colour, const char *panel2) {
            QTest::newRow(name) << "@#cmd:8##Argument:" + QByteArray(fields) + "###@" << enabled << colour << panel2;
        };
        row("locked, client", "1##ClientName:OP2##Connnect:True", false, 255, "Locked : Client OP2 connected!");
        row("locked, none", "1##ClientName:OP2##Connnect:False", false, 255, "Locked : No Client connected!");
        row("free (bit 0 clear), none", "2##ClientName:##Connnect:False", true, 65280, "No Client connected!");
        row("free, client", "0##ClientName:OP3##Connnect:True", true, 65535, "Client OP3 connected!");
            row("\"true\" is not True", "0##ClientName:OP3##Connnect:true", true, 65280, "No Client connected!");
        row("no Connnect field, free", "0##ClientName:OP3", true, 65280, "No Client connected!");
            row("two-n Connect is no field", "0##ClientName:OP3##Connect:True", true, 65280, "No Client connected!");
    }

    void remoteStatus()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, enabled);
        START_PANEL();
        const QList<QPushButton *> buttons{m_form->cmdRemoteDesktop, m_form->cmdShutDown, m_form->cmdRestart};
        for (QPushButton *button : buttons)
            button->setEnabled(!enabled);
        m_form->shpLockStatus->setFillColor(12345);
        m_form->shpLockStatus->setVisible(false);

        EXPECT_ANSWER(frame, "@#cmd:9##Argument:0###@");
        QCOMPARE(m_form->PanelText(1), QStringLiteral("Remotestatus received"));
        QTEST(m_form->PanelText(2), "panel2");
        QTEST(m_form->shpLockStatus->FillColor(), "colour");
        QVERIFY(!m_form->shpLockStatus->isHidden());
        QCOMPARE(m_form->mLifeCnt, 45);
        for (QPushButton *button : buttons)
            QCOMPARE(button->isEnabled(), enabled);
    }

    void exitOrder_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("flags"); // -1: no machine call
        // This platform is not of the NT family, so the flags are those for the other systems.
        QTest::newRow("log off") << 0 << 0;
        QTest::newRow("restart") << 1 << 3;
        QTest::newRow("shut down") << 2 << 1;
        QTest::newRow("shut down, forced") << 3 << 1;
        QTest::newRow("unknown mode") << 4 << -1;
    }

    void exitOrder()
    {
        QFETCH(int, mode);
        QFETCH(int, flags);
        START_PANEL();
        const QString panel1 = m_form->PanelText(1);
        const QString panel2 = m_form->PanelText(2);

        m_server->send(QStringLiteral("@#cmd:13##Argument:%1###@").arg(mode).toLatin1());
        if (flags >= 0) {
            QTRY_COMPARE_WITH_TIMEOUT(m_machine, QList<quint32>{quint32(flags)}, kWait);
            // The machine call is the handling's last step: no status text, no refill.
            QCOMPARE(m_form->PanelText(1), panel1);
            QCOMPARE(m_form->mLifeCnt, 7);
        }
        expectNothingSent("");
        QCOMPARE(m_server->received, kLifeAnswer);
        QCOMPARE(m_machine.size(), flags >= 0 ? 1 : 0);
        QCOMPARE(m_form->PanelText(2), panel2);
    }

    void framesTogetherAndSplit()
    {
        START_PANEL();
        EXPECT_ANSWER(kLife + "@#cmd:4##Argument:1020018###@", kLifeAnswer + answer5());
        QCOMPARE(m_form->lblServerVersion->text(), QStringLiteral("01.20 Build: 18"));

        // One frame in two writes, noise in front: answered once, when complete. The first write
        // carries a whole frame too, so its answer tells that the panel has read the first part.
        EXPECT_ANSWER(kLife + "xx@#cmd:8##Argument:1##Client", kLifeAnswer);
        EXPECT_ANSWER("Name:OP2##Connnect:True###@", "@#cmd:9##Argument:0###@");
        QCOMPARE(m_form->PanelText(2), QStringLiteral("Locked : Client OP2 connected!"));
        expectNothingSent("");
    }

    void partialFrameOfClosedLink()
    {
        START_PANEL();
        // The server goes away in the middle of a frame; the panel reopens the link.
        EXPECT_ANSWER(kLife + "@#cmd:8##Argument:1##ClientName:OP", kLifeAnswer);
        m_server->peer()->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(m_form->Winsock->State() == SocketControl::sckConnected, kWait);
        // What was left of the old link plays no part in the new one.
        expectNothingSent("");
    }

    void arrivalDuringHandlingWaitsItsTurn()
    {
        START_PANEL();
        auto *socket = m_form->Winsock->findChild<QTcpSocket *>();
        QVERIFY(socket);
        // A handling that processes events (inside the machine call) while more bytes arrive:
        // the socket raises no new arrival for them, so they must still be taken afterwards.
        bool arrivedMeanwhile = false;
        m_onMachine = [&] {
            m_server->send("@#cmd:4##Argument:0###@");
            QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, kWait);
            arrivedMeanwhile = true;
        };
        m_server->send("@#cmd:13##Argument:1###@" + kLife);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->received, kLifeAnswer + answer5(), kWait);
        QVERIFY(arrivedMeanwhile);
        QCOMPARE(m_machine.size(), 1);
    }

    void badFrame_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("panel2");
        QTest::addColumn<bool>("listed"); // two profiles received before
        const QString mismatch = QStringLiteral("error:13 Type mismatch");
        const QString range = QStringLiteral("error:9 Subscript out of range");
        const QString invalid = QStringLiteral("error:380 Invalid property value");
        const QString overflow = QStringLiteral("error:6 Overflow");
        QTest::newRow("non-numeric cmd") << QByteArray("@#cmd:x##Argument:0###@") << mismatch << false;
        QTest::newRow("non-numeric argument") << QByteArray("@#cmd:2##Argument:abc###@") << mismatch << false;
        QTest::newRow("missing argument") << QByteArray("@#cmd:4###@") << mismatch << false;
        QTest::newRow("profile 2 with no list") << profile(2, 3, "op2", "pw2", 0) << range << false;
        QTest::newRow("resolution beyond the list") << profile(1, 1, "op1", "pw1", 9) << invalid << false;
        QTest::newRow("argument beyond 32 bits") << QByteArray("@#cmd:2##Argument:2147483648###@") << overflow << false;
        // With two profiles listed: a connect order for none of them connects nothing.
        QTest::newRow("connect one beyond") << QByteArray("@#cmd:11##Argument:3###@") << invalid << true;
        QTest::newRow("connect beyond 16 bits") << QByteArray("@#cmd:11##Argument:40000###@") << overflow << true;
        QTest::newRow("connect none chosen") << QByteArray("@#cmd:11##Argument:0###@") << range << true;
    }

    void badFrame()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, panel2);
        QFETCH(bool, listed);
        START_PANEL();
        if (listed)
            EXPECT_ANSWER(profile(1, 2, "op1", "pw1", 0) + profile(2, 2, "op2", "pw2", 3),
                          "@#cmd:7##Argument:1###@@#cmd:7##Argument:2###@");
        m_server->received.clear();
        m_form->mLifeCnt = 7;
        const QString panel1 = m_form->PanelText(1);
        const int controls = RecordingSessionControl::instances().size();
        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_form->PanelText(2), panel2, kWait);
        QCOMPARE(m_form->mLifeCnt, 7);
        QCOMPARE(m_form->PanelText(1), panel1);
        QVERIFY(!gRdpStarted && !m_form->isHidden());
        QCOMPARE(RecordingSessionControl::instances().size(), controls);
        for (RecordingSessionControl *control : RecordingSessionControl::instances())
            QVERIFY(!control || !control->callNames().contains("Connect"));
        // The link goes on working, and nothing was sent for the bad frame.
        expectNothingSent("");
        QCOMPARE(m_server->received, kLifeAnswer);
        QCOMPARE(m_form->mLifeCnt, 45);
    }

    void ignoredCommands_data()
    {
        QTest::addColumn<QByteArray>("frame");
        for (int cmd : {1, 3, 5, 7, 9, 10, 12, 14})
            QTest::addRow("cmd %d", cmd) << QStringLiteral("@#cmd:%1##Argument:1##ClientName:X###@").arg(cmd).toLatin1();
        QTest::newRow("no frame at all") << QByteArray("hello");
    }

    void ignoredCommands()
    {
        QFETCH(QByteArray, frame);
        START_PANEL();
        m_form->setPanelText(1, QStringLiteral("p1"));
        m_form->setPanelText(2, QStringLiteral("p2"));
        const bool remoteDesktop = m_form->cmdRemoteDesktop->isEnabled();

        // Handled as a whole frame, it changes nothing in the window...
        m_form->HandleFrame(QString::fromLatin1(frame));
        QCOMPARE(m_form->PanelText(1), QStringLiteral("p1"));
        QCOMPARE(m_form->PanelText(2), QStringLiteral("p2"));
        QCOMPARE(m_form->mLifeCnt, 7);
        QCOMPARE(m_form->cmdRemoteDesktop->isEnabled(), remoteDesktop);
        QVERIFY(m_form->lblServerVersion->isHidden());
        QVERIFY(m_form->shpLockStatus->isHidden());

        // ... and arriving on the link it sends nothing.
        expectNothingSent(frame);
        QCOMPARE(m_form->PanelText(2), QStringLiteral("p2"));
        QVERIFY(m_machine.isEmpty());
        QVERIFY(!gRdpStarted);
    }

    void consoleAndPanel()
    {
        m_server.reset(); // the console is the server here
        QProcess console;
        QByteArray out;
        connect(&console, &QProcess::readyReadStandardOutput, this, [&] { out += console.readAllStandardOutput(); });
        console.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), {QStringLiteral("--port"), QStringLiteral("0")});
        const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(listening.match(QString::fromUtf8(out)).hasMatch(), kWait);
        const QString port = listening.match(QString::fromUtf8(out)).captured(1);

        m_form = &TestSupport::LoadPanel(*m_dir, {"txtServer=127.0.0.1", "txtPort=" + port, "chkUserPass=1",
                                                  "AutoConnect=1", "StartLifeCnt=45"});
        QTRY_VERIFY_WITH_TIMEOUT(out.contains(" connected\n"), kWait);

        console.write("life\nidentify 1.20.18\nusers op1:pw1:0 op2:pw2:1\nlock locked connected OP2\n");
        QTRY_VERIFY_WITH_TIMEOUT(out.contains("cmd 9 remote status received"), kWait);
        QVERIFY(out.contains("cmd 3 sign of life | Argument 0 = no remote desktop session"));
        QVERIFY(out.contains("cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: "
                             + modSystemBasic::GetLocalComputerName().toUtf8()));
        QVERIFY(out.contains("cmd 7 profile received | Argument 2 = profile 2"));
        QCOMPARE(m_form->lblServerVersion->text(), QStringLiteral("01.20 Build: 18"));
        QCOMPARE(m_form->cboUsername->count(), 2);
        QCOMPARE(m_form->PanelText(2), QStringLiteral("Locked : Client OP2 connected!"));

        console.write("restart\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_machine, QList<quint32>{3u}, kWait);
        console.write("quit\n");
        QVERIFY(console.waitForFinished(kWait));
    }
};

QTEST_MAIN(tst_Messages)
#include "tst_Messages.moc"
