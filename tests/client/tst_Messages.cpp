#include "client/Forms.h"
#include "client/VbControls.h"
#include "client/frmClient.h"
#include "client/frmClient_Messages.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace modGlobClientVar;
using TestSupport::kWait;
using TestSupport::stampedBetween;

namespace {

const QByteArray kLife = "@#cmd:2##Argument:0###@";
const QByteArray kLifeAnswer = "@#cmd:3##Argument:0###@";
// Answered by nothing but a type mismatch in panel 2: tells that the frames before it were handled.
const QByteArray kMarker = "@#cmd:x##Argument:0###@";

QByteArray answer5()
{
    return "@#cmd:5##Argument:-2146463630##ClientName:" + modSystemBasic::GetLocalComputerName().toLatin1() + "###@";
}

QByteArray profile(int n, int count, const char *name, const char *password, int resolution)
{
    return QStringLiteral("@#cmd:6##Argument:%1##NrOfUsers:%2##Username:%3##Password:%4##Resolution:%5###@")
        .arg(n).arg(count).arg(QLatin1String(name), QLatin1String(password)).arg(resolution).toLatin1();
}

QByteArray command(int cmd, qint64 argument)
{
    return QStringLiteral("@#cmd:%1##Argument:%2###@").arg(cmd).arg(argument).toLatin1();
}

} // namespace

// Helpers that verify end the test when they fail.
#define CHECKED(call) \
    do { call; if (QTest::currentTestFailed()) return; } while (false)
#define EXPECT_ANSWER(...) CHECKED(expectAnswer(__VA_ARGS__))

class tst_Messages : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::LoopbackServer> m_server;
    QList<quint32> m_machine; // flags of each machine call
    std::function<void()> m_onMachine; // runs inside the machine call
    frmClient *m_form = nullptr;
    QTemporaryDir m_pictureDir;
    const QString m_picture = m_pictureDir.filePath(QStringLiteral("local.png"));

    void startPanel()
    {
        m_form = &TestSupport::LoadPanel(*m_dir, {"txtServer=127.0.0.1", QStringLiteral("txtPort=%1").arg(m_server->port()),
                                                  "txtUserName=op", "txtPassword=", "chkUserPass=1", "cboResolution=3",
                                                  "AutoConnect=1", "StartConnectLifeCnt=3", "StartLifeCnt=45"});
        QTRY_VERIFY_WITH_TIMEOUT(m_form->Winsock->State() == SocketControl::sckConnected, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->peer(), kWait);
    }

    // Exactly this answer, and the life count refilled; with a stamp, panel 1 shows it and the time.
    void expectAnswer(const QByteArray &frame, const QByteArray &answer, const char *stamp = nullptr)
    {
        QVERIFY(m_server->peer());
        const QByteArray before = m_server->received;
        const QTime from = QTime::currentTime();
        m_form->mLifeCnt = 7;
        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->received, before + answer, kWait);
        QCOMPARE(m_form->mLifeCnt, 45);
        if (stamp)
            QVERIFY2(stampedBetween(m_form->PanelText(1), QLatin1String(stamp), from, QTime::currentTime()),
                     qPrintable(m_form->PanelText(1)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_pictureDir.isValid());
        QImage red(40, 40, QImage::Format_RGB32);
        red.fill(qRgb(255, 0, 0));
        QVERIFY(red.save(m_picture));
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
        gStartConnectLifeCnt = gTryConnectActionCnt = 3;
        gTryConnectCount = 0;
        gUserProcessName.clear();
        gUsersConfig.reset();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_server = std::make_unique<TestSupport::LoopbackServer>();
        QVERIFY(m_server->listening);
        if (qstrcmp(QTest::currentTestFunction(), "consoleAndPanel") != 0)
            startPanel(); // connected to the server
    }

    void cleanup()
    {
        TestSupport::UnloadForms();
        m_form = nullptr;
        m_server.reset();
        m_dir.reset();
    }

    void panelVersionMinorIn16Bits()
    {
        QCOMPARE(qint64(frmClientMessages::PanelVersionNumber(1, 32, 767)), -2147483648LL + 1032767);
        QCOMPARE(TestSupport::errorOf([] { (void)frmClientMessages::PanelVersionNumber(1, 33, 0); }), 6); // overflow
    }

    // A session as the server orders it: sign of life, a profile series, the order to connect.
    void sessionOrderedByTheServer()
    {
        EXPECT_ANSWER(command(2, 99), kLifeAnswer, "SignOfLife "); // the request's argument plays no part
        EXPECT_ANSWER(profile(1, 3, "op1", "pw1", 0), command(7, 1), "Get Remotedata");
        EXPECT_ANSWER(profile(2, 3, "op2", "pw2", 3), command(7, 2));
        QVERIFY(m_form->cboUsername->isHidden()); // not shown before the last one
        EXPECT_ANSWER(profile(3, 3, "op3", "pw3", 5), command(7, 3));
        QVERIFY(!m_form->cboUsername->isHidden());
        QCOMPARE(m_form->cboUsername->count(), 3);
        QCOMPARE(m_form->cboUsername->itemText(2), QStringLiteral("op3"));

        m_form->mLifeCnt = 7;
        const QTime from = QTime::currentTime();
        m_server->send(command(11, 2));
        QTRY_VERIFY_WITH_TIMEOUT(gRdpStarted, kWait);
        QVERIFY2(stampedBetween(m_form->PanelText(1), "RemoteConnection", from, QTime::currentTime()),
                 qPrintable(m_form->PanelText(1)));
        QCOMPARE(m_form->mLifeCnt, 45);
        QCOMPARE(m_form->cboUsername->currentIndex(), 1);
        RecordingSessionControl *control = RecordingSessionControl::last();
        QVERIFY(control && control->callNames().contains("Connect"));
        QCOMPARE(control->UserName(), QStringLiteral("op2"));
        QCOMPARE(control->DesktopWidth(), 1024);

        EXPECT_ANSWER(kLife, command(3, 1)); // started, not yet connected
        control->raiseConnected();
        QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
        EXPECT_ANSWER(kLife, command(3, 3));
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
        m_form->lblServerVersion->setText(QStringLiteral("before"));
        EXPECT_ANSWER(command(4, v), answer5(), "MachineName");
        QCOMPARE(m_form->lblServerVersion->text(), shown.isEmpty() ? QStringLiteral("before") : shown);
        QCOMPARE(m_form->lblServerVersion->isHidden(), shown.isEmpty());
        QCOMPARE(m_form->lblServerVersionLabel->isHidden(), shown.isEmpty());
    }

    void remoteStatus_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("colour"); // red: locked, the buttons off
        QTest::addColumn<QString>("panel2");
        const auto row = [](const char *name, const QByteArray &fields, int colour, const QString &panel2) {
            QTest::newRow(name) << "@#cmd:8##Argument:" + fields + "###@" << colour << panel2;
        };
        row("locked, client", "1##ClientName:OP2##Connnect:True", 255, "Locked : Client OP2 connected!");
        row("locked, none", "1##ClientName:OP2##Connnect:False", 255, "Locked : No Client connected!");
        row("free (bit 0 clear), none", "2##ClientName:##Connnect:False", 65280, "No Client connected!");
        row("free, client", "0##ClientName:OP3##Connnect:True", 65535, "Client OP3 connected!");
        row("no Connnect field: no client", "0##ClientName:OP3", 65280, "No Client connected!");
        const QByteArray markup = "<img src=\"" + m_picture.toUtf8() + "\"><b>OP4</b>";
        row("markup in the name is text", "0##ClientName:" + markup + "##Connnect:True", 65535,
            "Client " + markup + " connected!");
    }

    void remoteStatus()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, colour);
        const bool enabled = colour != 255;
        const QList<QPushButton *> buttons{m_form->cmdRemoteDesktop, m_form->cmdShutDown, m_form->cmdRestart};
        for (QPushButton *button : buttons)
            button->setEnabled(!enabled);
        m_form->shpLockStatus->setFillColor(12345);
        m_form->shpLockStatus->setVisible(false);

        EXPECT_ANSWER(frame, command(9, 0));
        QCOMPARE(m_form->PanelText(1), QStringLiteral("Remotestatus received"));
        QTEST(m_form->PanelText(2), "panel2");
        // Shown as text: the picture a name points to is never opened.
        const QImage panel = m_form->stbPanel2->grab().toImage();
        for (int y = 0; y < panel.height(); ++y)
            for (int x = 0; x < panel.width(); ++x)
                QVERIFY(panel.pixel(x, y) != qRgb(255, 0, 0));
        QCOMPARE(m_form->shpLockStatus->FillColor(), colour);
        QVERIFY(!m_form->shpLockStatus->isHidden());
        for (QPushButton *button : buttons)
            QCOMPARE(button->isEnabled(), enabled);
    }

    // The link is a byte stream: frames of one write are all answered, a frame split over two
    // writes once it is complete, bytes arriving while a frame is handled after it, and what a
    // closed link left unfinished is forgotten.
    void frameStream()
    {
        EXPECT_ANSWER(kLife + command(4, 1020018), kLifeAnswer + answer5());
        // Noise in front; the first write carries a whole frame too, so its answer tells that
        // the panel has read the first part.
        EXPECT_ANSWER(kLife + "xx@#cmd:8##Argument:1##Client", kLifeAnswer);
        EXPECT_ANSWER("Name:OP2##Connnect:True###@", command(9, 0));
        QCOMPARE(m_form->PanelText(2), QStringLiteral("Locked : Client OP2 connected!"));

        // The machine call processes events while more bytes arrive: the socket raises no new
        // arrival for them, so the running handling must take them.
        auto *socket = m_form->Winsock->findChild<QTcpSocket *>();
        QVERIFY(socket);
        bool arrivedMeanwhile = false;
        m_onMachine = [&] {
            m_server->send(command(4, 0));
            QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, kWait);
            arrivedMeanwhile = true;
        };
        EXPECT_ANSWER(command(13, 1) + kLife, kLifeAnswer + answer5());
        QVERIFY(arrivedMeanwhile);
        m_onMachine = nullptr;

        EXPECT_ANSWER(kLife + "@#cmd:8##Argument:1##ClientName:OP", kLifeAnswer);
        QCOMPARE(m_server->received, kLifeAnswer + answer5() + kLifeAnswer + command(9, 0) + kLifeAnswer + answer5()
                                         + kLifeAnswer);
        m_server->peer()->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->peers.size(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(m_form->Winsock->State() == SocketControl::sckConnected, kWait);
        EXPECT_ANSWER(kLife, kLifeAnswer);
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
        EXPECT_ANSWER(broken + kLife, answer);
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
        row("non-numeric argument", "@#cmd:2##Argument:abc###@", mismatch);
        row("missing argument", "@#cmd:4###@", mismatch);
        row("profile 2 with no list", profile(2, 3, "op2", "pw2", 0), range);
        row("resolution beyond the list", profile(1, 1, "op1", "pw1", 9), invalid);
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
        if (frame.startsWith("@#cmd:11")) // connect orders: two profiles listed before
            EXPECT_ANSWER(profile(1, 2, "op1", "pw1", 0) + profile(2, 2, "op2", "pw2", 3), command(7, 1) + command(7, 2));
        m_server->received.clear();
        m_form->mLifeCnt = 7;
        m_form->setPanelText(2, QStringLiteral("before"));
        const QString panel1 = m_form->PanelText(1);
        const int controls = RecordingSessionControl::instances().size();
        const QList<quint32> machine = flags < 0 ? QList<quint32>() : QList<quint32>{quint32(flags)};

        m_server->send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(m_machine, machine, kWait); // the machine call is the handling's last step
        QTRY_COMPARE_WITH_TIMEOUT(m_form->PanelText(2), panel2, kWait);
        QCOMPARE(m_form->mLifeCnt, 7);
        QCOMPARE(m_form->PanelText(1), panel1);
        QVERIFY(!gRdpStarted && !m_form->isHidden());
        QCOMPARE(RecordingSessionControl::instances().size(), controls);
        for (RecordingSessionControl *control : RecordingSessionControl::instances())
            QVERIFY(!control || !control->callNames().contains("Connect"));
        // The link goes on working, and nothing was sent for the frame.
        EXPECT_ANSWER(kLife, kLifeAnswer);
        QCOMPARE(m_server->received, kLifeAnswer);
        QCOMPARE(m_machine, machine);
    }

    void consoleAndPanel()
    {
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
        QCOMPARE(m_form->PanelText(2), QStringLiteral("Locked : Client OP2 connected!"));

        console.write("restart\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_machine, QList<quint32>{3u}, kWait);
        console.write("quit\n");
        QVERIFY(console.waitForFinished(kWait));
    }
};

QTEST_MAIN(tst_Messages)
#include "tst_Messages.moc"
