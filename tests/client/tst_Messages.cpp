#include "client/Forms.h"
#include "client/frmClient.h"
#include "client/frmClient_Messages.h"
#include "client/VbControls.h"
#include "platform/VbError.h"
#include "serverlink/SocketControl.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

using namespace modGlobClientVar;

namespace {

constexpr int kWait = 10000;

// The companion program's end of the side link: one accepted panel, everything it sends.
class Server
{
public:
    Server()
    {
        listening = server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                peer = socket;
                received.clear();
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    if (socket == peer)
                        received += socket->readAll();
                });
            }
        });
    }
    void send(const QByteArray &bytes)
    {
        peer->write(bytes);
        peer->flush();
    }

    QTcpServer server;
    bool listening = false;
    QPointer<QTcpSocket> peer;
    QByteArray received;
};

struct MachineCall
{
    quint32 flags;
    quint32 reserved;
};

QString longTime(const QTime &time) { return QLocale::system().toString(time, QLocale::LongFormat); }

// The text is prefix + the long time of a moment between from and to.
bool stampedBetween(const QString &text, const QString &prefix, const QTime &from, const QTime &to)
{
    for (QTime t = from.addMSecs(-from.msec()); t <= to.addSecs(1); t = t.addSecs(1))
        if (text == prefix + longTime(t))
            return true;
    return false;
}

QByteArray answer5() { return "@#cmd:5##Argument:-2146463630##ClientName:" + modSystemBasic::GetLocalComputerName().toLatin1() + "###@"; }

QByteArray profile(int n, int count, const char *name, const char *password, int resolution)
{
    return QStringLiteral("@#cmd:6##Argument:%1##NrOfUsers:%2##Username:%3##Password:%4##Resolution:%5###@")
        .arg(n).arg(count).arg(QLatin1String(name), QLatin1String(password)).arg(resolution).toLatin1();
}

} // namespace

// Helpers that verify end the test when they fail.
#define START_PANEL(port)                                                                                              \
    do {                                                                                                               \
        startPanel(port);                                                                                              \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)
#define EXPECT_ANSWER(frame, answer)                                                                                   \
    do {                                                                                                               \
        expectAnswer(frame, answer);                                                                                   \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

class tst_Messages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void panelVersionNumber_data();
    void panelVersionNumber();
    void serverVersionText_data();
    void serverVersionText();

    void signOfLifeBeforeSession();
    void connectOrderAndSessionState();
    void identification_data();
    void identification();
    void profileSeriesOfThree();
    void newSeriesReplacesList();
    void remoteStatus_data();
    void remoteStatus();
    void connectBeyondList_data();
    void connectBeyondList();
    void exitOrder_data();
    void exitOrder();
    void framesTogetherAndSplit();
    void partialFrameOfClosedLink();
    void arrivalDuringHandlingWaitsItsTurn();
    void badFrame_data();
    void badFrame();
    void ignoredCommands_data();
    void ignoredCommands();
    void consoleAndPanel();

private:
    // Starts the whole window in operator mode against the server and waits for the link.
    void startPanel(quint16 port);
    // Sends bytes and waits until the panel's answers reach the expected bytes.
    void expectAnswer(const QByteArray &frame, const QByteArray &answer);
    // Sends a frame that must change nothing, then a sign of life; only its answer comes back.
    void expectNothingSent(const QByteArray &frame);

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<Server> m_server;
    QList<MachineCall> m_machine;
    std::function<void()> m_onMachine; // runs inside the machine call
    frmClient *m_form = nullptr;
};

void tst_Messages::initTestCase()
{
    // The control timer would reopen a quiet link; these tests drive the link themselves.
    frmClient::TimerIntervalMs = 3600 * 1000;
    modSystemBasic::SetMachineControl([this](quint32 flags, quint32 reserved) {
        m_machine.append({flags, reserved});
        if (m_onMachine)
            m_onMachine();
    });
}

void tst_Messages::init()
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
    m_server = std::make_unique<Server>();
    QVERIFY(m_server->listening);
}

void tst_Messages::cleanup()
{
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_form = nullptr;
    m_server.reset();
    m_dir.reset();
    gUsersConfig.reset();
}

void tst_Messages::startPanel(quint16 port)
{
    m_dir->write(QStringLiteral("Client.cfg"),
                 {QStringLiteral("[Client]"), QStringLiteral("txtServer=127.0.0.1"),
                  QStringLiteral("txtPort=%1").arg(port), QStringLiteral("txtUserName=op"),
                  QStringLiteral("txtPassword="), QStringLiteral("chkUserPass=1"), QStringLiteral("cboResolution=3"),
                  QStringLiteral("AutoConnect=1"), QStringLiteral("StartConnectLifeCnt=3"),
                  QStringLiteral("StartLifeCnt=45")});
    m_form = &Forms::LoadClient();
    QTRY_VERIFY_WITH_TIMEOUT(m_form->Winsock->State() == SocketControl::sckConnected, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(m_server->peer, kWait);
}

void tst_Messages::expectAnswer(const QByteArray &frame, const QByteArray &answer)
{
    QVERIFY(m_server->peer);
    const QByteArray before = m_server->received;
    m_server->send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->received, before + answer, kWait);
}

void tst_Messages::expectNothingSent(const QByteArray &frame)
{
    const QByteArray before = m_server->received;
    m_server->send(frame);
    expectAnswer("@#cmd:2##Argument:0###@", "@#cmd:3##Argument:0###@");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_server->received, before + "@#cmd:3##Argument:0###@");
}

// ---- the arithmetic

void tst_Messages::panelVersionNumber_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<qint64>("number"); // -1 stands for an overflow

    QTest::newRow("1.20.18") << 1 << 20 << 18 << qint64(-2146463630);
    QTest::newRow("0.0.0") << 0 << 0 << 0 << qint64(-2147483648LL);
    QTest::newRow("minor 32 still fits 16 bits") << 1 << 32 << 767 << qint64(-2147483648LL + 1000000 + 32000 + 767);
    QTest::newRow("minor 33 overflows 16 bits") << 1 << 33 << 0 << qint64(-1);
    QTest::newRow("major 2147") << 2147 << 0 << 0 << qint64(2147000000LL - 2147483648LL);
    QTest::newRow("major 2148 overflows") << 2148 << 0 << 0 << qint64(-1);
    QTest::newRow("below the least number") << 0 << 0 << -1 << qint64(-1);
    QTest::newRow("negative minor") << 3 << -5 << 1 << qint64(3000000LL - 2147483648LL - 5000 + 1);
}

void tst_Messages::panelVersionNumber()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(qint64, number);
    if (number == -1) {
        try {
            frmClientMessages::PanelVersionNumber(major, minor, revision);
            QFAIL("no overflow raised");
        } catch (const VbError &error) {
            QCOMPARE(error.number(), 6);
        }
    } else {
        QCOMPARE(qint64(frmClientMessages::PanelVersionNumber(major, minor, revision)), number);
    }
}

void tst_Messages::serverVersionText_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<QString>("text");
    QTest::newRow("1020018") << 1020018 << "01.20 Build: 18";
    QTest::newRow("2003045") << 2003045 << "02.03 Build: 45";
    QTest::newRow("1020600") << 1020600 << "01.20 Build: 600";
    QTest::newRow("three-digit major") << 123004005 << "123.04 Build: 5";
    QTest::newRow("major beyond 999 wraps") << 1234005006 << "234.05 Build: 6";
    QTest::newRow("build only") << 7 << "00.00 Build: 7";
    QTest::newRow("negative") << -1020018 << "-01.-20 Build: -18";
    QTest::newRow("least number") << int(-2147483647 - 1) << "-147.-483 Build: -648";
}

void tst_Messages::serverVersionText()
{
    QFETCH(int, v);
    QFETCH(QString, text);
    QCOMPARE(frmClientMessages::ServerVersionText(v), text);
}

// ---- the window against a real server

void tst_Messages::signOfLifeBeforeSession()
{
    START_PANEL(m_server->server.serverPort());
    m_form->mLifeCnt = 7;
    const QTime from = QTime::currentTime();
    EXPECT_ANSWER("@#cmd:2##Argument:0###@", "@#cmd:3##Argument:0###@");
    QVERIFY2(stampedBetween(m_form->PanelText(1), "SignOfLife ", from, QTime::currentTime()),
             qPrintable(m_form->PanelText(1)));
    QCOMPARE(m_form->mLifeCnt, 45);
    // The request's argument plays no part.
    EXPECT_ANSWER("@#cmd:2##Argument:99###@", "@#cmd:3##Argument:0###@");
}

void tst_Messages::connectOrderAndSessionState()
{
    START_PANEL(m_server->server.serverPort());
    EXPECT_ANSWER(profile(1, 2, "op1", "pw1", 0) + profile(2, 2, "op2", "pw2", 3),
                 "@#cmd:7##Argument:1###@@#cmd:7##Argument:2###@");
    m_form->mLifeCnt = 7;
    const QTime from = QTime::currentTime();
    m_server->send("@#cmd:11##Argument:2###@");
    QTRY_VERIFY_WITH_TIMEOUT(gRdpStarted, kWait);
    QVERIFY2(stampedBetween(m_form->PanelText(1), "RemoteConnection", from, QTime::currentTime()),
             qPrintable(m_form->PanelText(1)));
    QCOMPARE(m_form->mLifeCnt, 45);
    QCOMPARE(m_form->cboUsername->currentIndex(), 1);
    RecordingSessionControl *control = RecordingSessionControl::last();
    QVERIFY(control);
    QVERIFY(control->callNames().contains("Connect"));
    QCOMPARE(control->UserName(), QStringLiteral("op2"));
    QCOMPARE(control->DesktopWidth(), 1024);

    // Started, not yet connected.
    EXPECT_ANSWER("@#cmd:2##Argument:0###@", "@#cmd:3##Argument:1###@");
    control->raiseConnected();
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
    EXPECT_ANSWER("@#cmd:2##Argument:0###@", "@#cmd:3##Argument:3###@");
    QVERIFY(m_server->received.endsWith("@#cmd:3##Argument:3###@"));
}

void tst_Messages::identification_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<QString>("shown"); // empty: the labels stay as they were
    QTest::newRow("1020018") << 1020018 << "01.20 Build: 18";
    QTest::newRow("2003045") << 2003045 << "02.03 Build: 45";
    QTest::newRow("1020600") << 1020600 << "01.20 Build: 600";
    QTest::newRow("0") << 0 << QString();
}

void tst_Messages::identification()
{
    QFETCH(int, v);
    QFETCH(QString, shown);
    START_PANEL(m_server->server.serverPort());
    m_form->lblServerVersion->setText(QStringLiteral("before"));
    m_form->mLifeCnt = 7;
    const QTime from = QTime::currentTime();
    EXPECT_ANSWER(QStringLiteral("@#cmd:4##Argument:%1###@").arg(v).toLatin1(), answer5());
    QVERIFY2(stampedBetween(m_form->PanelText(1), "MachineName", from, QTime::currentTime()),
             qPrintable(m_form->PanelText(1)));
    QCOMPARE(m_form->mLifeCnt, 45);
    if (shown.isEmpty()) {
        QCOMPARE(m_form->lblServerVersion->text(), QStringLiteral("before"));
        QVERIFY(m_form->lblServerVersion->isHidden());
        QVERIFY(m_form->lblServerVersionLabel->isHidden());
    } else {
        QCOMPARE(m_form->lblServerVersion->text(), shown);
        QVERIFY(!m_form->lblServerVersion->isHidden());
        QVERIFY(!m_form->lblServerVersionLabel->isHidden());
    }
}

void tst_Messages::profileSeriesOfThree()
{
    START_PANEL(m_server->server.serverPort());
    QVERIFY(m_form->cboUsername->isHidden());
    for (QPushButton *button : {m_form->cmdRemoteDesktop, m_form->cmdShutDown, m_form->cmdRestart})
        button->setEnabled(false);

    const QTime from = QTime::currentTime();
    EXPECT_ANSWER(profile(1, 3, "op1", "pw1", 0), "@#cmd:7##Argument:1###@");
    QCOMPARE(m_form->txtUserName->text(), QStringLiteral("op1"));
    QVERIFY2(stampedBetween(m_form->PanelText(1), "Get Remotedata", from, QTime::currentTime()),
             qPrintable(m_form->PanelText(1)));
    EXPECT_ANSWER(profile(2, 3, "op2", "pw2", 2), "@#cmd:7##Argument:2###@");
    QCOMPARE(m_form->txtUserName->text(), QStringLiteral("op2"));
    QCOMPARE(m_form->txtPassword->text(), QStringLiteral("pw2"));
    QCOMPARE(m_form->cboResolution->currentIndex(), 2);
    // Not shown before the last one.
    QVERIFY(m_form->cboUsername->isHidden());
    QVERIFY(!m_form->cmdRemoteDesktop->isEnabled());

    m_form->mLifeCnt = 7;
    EXPECT_ANSWER(profile(3, 3, "op3", "pw3", 5), "@#cmd:7##Argument:3###@");
    QCOMPARE(m_form->mLifeCnt, 45);
    QVERIFY(!m_form->cboUsername->isHidden());
    QVERIFY(m_form->txtUserName->isHidden());
    QCOMPARE(m_form->cboUsername->count(), 3);
    QCOMPARE(m_form->cboUsername->itemText(2), QStringLiteral("op3"));
    QCOMPARE(m_form->cboUsername->currentIndex(), 0);
    QCOMPARE(m_form->txtUserName->text(), QStringLiteral("op1")); // profile 1 at the end
    for (QPushButton *button : {m_form->cmdRemoteDesktop, m_form->cmdShutDown, m_form->cmdRestart})
        QVERIFY(button->isEnabled());
    QCOMPARE(gUsersConfig->Count(), 3);
}

void tst_Messages::newSeriesReplacesList()
{
    START_PANEL(m_server->server.serverPort());
    EXPECT_ANSWER(profile(1, 2, "a", "1", 0) + profile(2, 2, "b", "2", 0), "@#cmd:7##Argument:1###@@#cmd:7##Argument:2###@");
    EXPECT_ANSWER(profile(1, 1, "c", "3", 1), "@#cmd:7##Argument:1###@");
    QCOMPARE(gUsersConfig->Count(), 1);
    QCOMPARE(m_form->cboUsername->count(), 1);
    QCOMPARE(m_form->cboUsername->itemText(0), QStringLiteral("c"));
}

void tst_Messages::remoteStatus_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("colour");
    QTest::addColumn<QString>("panel2");

    QTest::newRow("locked, client") << QByteArray("@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@") << false
                                    << 255 << "Locked : Client OP2 connected!";
    QTest::newRow("locked, none") << QByteArray("@#cmd:8##Argument:1##ClientName:OP2##Connnect:False###@") << false
                                  << 255 << "Locked : No Client connected!";
    QTest::newRow("free (bit 0 clear), none") << QByteArray("@#cmd:8##Argument:2##ClientName:##Connnect:False###@")
                                              << true << 65280 << "No Client connected!";
    QTest::newRow("free, client") << QByteArray("@#cmd:8##Argument:0##ClientName:OP3##Connnect:True###@") << true
                                  << 65535 << "Client OP3 connected!";
    QTest::newRow("locked, odd argument 3") << QByteArray("@#cmd:8##Argument:3##ClientName:X##Connnect:True###@") << false
                                            << 255 << "Locked : Client X connected!";
    QTest::newRow("\"true\" is not True") << QByteArray("@#cmd:8##Argument:0##ClientName:OP3##Connnect:true###@") << true
                                          << 65280 << "No Client connected!";
    QTest::newRow("no Connnect field, free") << QByteArray("@#cmd:8##Argument:0##ClientName:OP3###@") << true << 65280
                                             << "No Client connected!";
    QTest::newRow("no Connnect field, locked") << QByteArray("@#cmd:8##Argument:1##ClientName:OP3###@") << false << 255
                                               << "Locked : No Client connected!";
    QTest::newRow("two-n Connect is no field") << QByteArray("@#cmd:8##Argument:0##ClientName:OP3##Connect:True###@")
                                               << true << 65280 << "No Client connected!";
}

void tst_Messages::remoteStatus()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, enabled);
    QFETCH(int, colour);
    QFETCH(QString, panel2);
    START_PANEL(m_server->server.serverPort());
    for (QPushButton *button : {m_form->cmdRemoteDesktop, m_form->cmdShutDown, m_form->cmdRestart})
        button->setEnabled(!enabled);
    m_form->shpLockStatus->setFillColor(12345);
    m_form->shpLockStatus->setVisible(false);
    m_form->mLifeCnt = 7;

    EXPECT_ANSWER(frame, "@#cmd:9##Argument:0###@");
    QCOMPARE(m_form->PanelText(1), QStringLiteral("Remotestatus received"));
    QCOMPARE(m_form->PanelText(2), panel2);
    QCOMPARE(m_form->shpLockStatus->FillColor(), colour);
    QVERIFY(!m_form->shpLockStatus->isHidden());
    QCOMPARE(m_form->mLifeCnt, 45);
    for (QPushButton *button : {m_form->cmdRemoteDesktop, m_form->cmdShutDown, m_form->cmdRestart})
        QCOMPARE(button->isEnabled(), enabled);
}

void tst_Messages::connectBeyondList_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("error");
    QTest::newRow("one beyond") << QByteArray("@#cmd:11##Argument:3###@") << 380;
    QTest::newRow("far beyond") << QByteArray("@#cmd:11##Argument:30000###@") << 380;
    QTest::newRow("beyond 16 bits") << QByteArray("@#cmd:11##Argument:40000###@") << 6;
    QTest::newRow("least number") << QByteArray("@#cmd:11##Argument:-2147483648###@") << 6;
    QTest::newRow("below the list") << QByteArray("@#cmd:11##Argument:-5###@") << 380;
    QTest::newRow("none chosen") << QByteArray("@#cmd:11##Argument:0###@") << 9;
}

void tst_Messages::connectBeyondList()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, error);
    START_PANEL(m_server->server.serverPort());
    EXPECT_ANSWER(profile(1, 2, "op1", "pw1", 0) + profile(2, 2, "op2", "pw2", 3),
                 "@#cmd:7##Argument:1###@@#cmd:7##Argument:2###@");
    const QString panel1 = m_form->PanelText(1);
    m_form->mLifeCnt = 7;
    const int controls = RecordingSessionControl::instances().size();

    m_server->send(frame);
    QTRY_VERIFY_WITH_TIMEOUT(m_form->PanelText(2).startsWith("error:"), kWait);
    QVERIFY2(m_form->PanelText(2).startsWith(QStringLiteral("error:%1 ").arg(error)), qPrintable(m_form->PanelText(2)));
    QVERIFY(m_form->PanelText(2).size() > QStringLiteral("error:%1 ").arg(error).size()); // with its description
    QCOMPARE(m_form->PanelText(1), panel1);
    QCOMPARE(m_form->mLifeCnt, 7);
    QVERIFY(!gRdpStarted);
    QCOMPARE(RecordingSessionControl::instances().size(), controls);
    for (RecordingSessionControl *control : RecordingSessionControl::instances())
        QVERIFY(!control || !control->callNames().contains("Connect"));
    QVERIFY(!m_form->isHidden());
    expectNothingSent("");
}

void tst_Messages::exitOrder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("flags"); // -1: no machine call

    // This platform is not of the NT family, so the flags are those for the other systems.
    QTest::newRow("log off") << 0 << 0;
    QTest::newRow("restart") << 1 << 3;
    QTest::newRow("shut down") << 2 << 1;
    QTest::newRow("shut down, forced") << 3 << 1;
    QTest::newRow("unknown mode") << 4 << -1;
    QTest::newRow("negative mode") << -1 << -1;
}

void tst_Messages::exitOrder()
{
    QFETCH(int, mode);
    QFETCH(int, flags);
    START_PANEL(m_server->server.serverPort());
    m_form->mLifeCnt = 7;
    const QString panel1 = m_form->PanelText(1);
    const QString panel2 = m_form->PanelText(2);

    m_server->send(QStringLiteral("@#cmd:13##Argument:%1###@").arg(mode).toLatin1());
    if (flags >= 0) {
        QTRY_COMPARE_WITH_TIMEOUT(m_machine.size(), 1, kWait);
        QCOMPARE(m_machine[0].flags, quint32(flags));
        QCOMPARE(m_machine[0].reserved, 0xFFFFFFFFu);
        // The machine call is the handling's last step: no status text, no refill.
        QCOMPARE(m_form->PanelText(1), panel1);
        QCOMPARE(m_form->mLifeCnt, 7);
    }
    // No answer: the sign of life after it is the only one.
    EXPECT_ANSWER("@#cmd:2##Argument:0###@", "@#cmd:3##Argument:0###@");
    QCOMPARE(m_server->received, QByteArray("@#cmd:3##Argument:0###@"));
    QCOMPARE(m_machine.size(), flags >= 0 ? 1 : 0);
    QCOMPARE(m_form->PanelText(2), panel2);
}

void tst_Messages::framesTogetherAndSplit()
{
    START_PANEL(m_server->server.serverPort());
    // Two frames in one write: both answered, in order.
    EXPECT_ANSWER("@#cmd:2##Argument:0###@@#cmd:4##Argument:1020018###@", "@#cmd:3##Argument:0###@" + answer5());
    QCOMPARE(m_form->lblServerVersion->text(), QStringLiteral("01.20 Build: 18"));

    // One frame in two writes, noise in front: answered once, when complete. The first write
    // carries a whole frame too, so its answer tells that the panel has read the first part.
    const QByteArray before = m_server->received;
    EXPECT_ANSWER("@#cmd:2##Argument:0###@xx@#cmd:8##Argument:1##Client", "@#cmd:3##Argument:0###@");
    EXPECT_ANSWER("Name:OP2##Connnect:True###@", "@#cmd:9##Argument:0###@");
    QCOMPARE(m_form->PanelText(2), QStringLiteral("Locked : Client OP2 connected!"));
    expectNothingSent("");
    QCOMPARE(m_server->received, before + "@#cmd:3##Argument:0###@@#cmd:9##Argument:0###@@#cmd:3##Argument:0###@");
}

void tst_Messages::partialFrameOfClosedLink()
{
    START_PANEL(m_server->server.serverPort());
    // The server goes away in the middle of a frame; the panel reopens the link.
    EXPECT_ANSWER("@#cmd:2##Argument:0###@@#cmd:8##Argument:1##ClientName:OP", "@#cmd:3##Argument:0###@");
    QPointer<QTcpSocket> old = m_server->peer;
    old->disconnectFromHost();
    QTRY_VERIFY2_WITH_TIMEOUT(m_server->peer && m_server->peer != old,
                              qPrintable(m_form->PanelText(1) + " state " + QString::number(m_form->Winsock->State())),
                              kWait);
    QTRY_VERIFY_WITH_TIMEOUT(m_form->Winsock->State() == SocketControl::sckConnected, kWait);
    // What was left of the old link plays no part in the new one.
    EXPECT_ANSWER("@#cmd:2##Argument:0###@", "@#cmd:3##Argument:0###@");
    QCOMPARE(m_server->received, QByteArray("@#cmd:3##Argument:0###@"));
}

void tst_Messages::arrivalDuringHandlingWaitsItsTurn()
{
    START_PANEL(m_server->server.serverPort());
    auto *socket = m_form->Winsock->findChild<QTcpSocket *>();
    QVERIFY(socket);
    // A frame's handling that processes pending events (here inside the machine call) while
    // more bytes arrive: the socket raises no new arrival for them meanwhile, so they must be
    // taken once the frames already received are done, and handled after them.
    bool arrivedMeanwhile = false;
    m_onMachine = [this, socket, &arrivedMeanwhile] {
        m_server->send("@#cmd:4##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(socket->bytesAvailable() > 0, kWait);
        arrivedMeanwhile = true;
    };
    m_server->send("@#cmd:13##Argument:1###@@#cmd:2##Argument:0###@");
    QTRY_COMPARE_WITH_TIMEOUT(m_server->received, "@#cmd:3##Argument:0###@" + answer5(), kWait);
    QVERIFY(arrivedMeanwhile);
    QCOMPARE(m_machine.size(), 1);
}

void tst_Messages::badFrame_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("panel2");
    QTest::newRow("non-numeric cmd") << QByteArray("@#cmd:x##Argument:0###@") << "error:13 Type mismatch";
    QTest::newRow("non-numeric argument") << QByteArray("@#cmd:2##Argument:abc###@") << "error:13 Type mismatch";
    QTest::newRow("missing argument") << QByteArray("@#cmd:4###@") << "error:13 Type mismatch";
    QTest::newRow("missing cmd") << QByteArray("@#Argument:1###@") << "error:13 Type mismatch";
    QTest::newRow("non-numeric NrOfUsers") << QByteArray("@#cmd:6##Argument:1##NrOfUsers:many##Username:a##Password:b##Resolution:0###@")
                                           << "error:13 Type mismatch";
    QTest::newRow("non-numeric Resolution") << QByteArray("@#cmd:6##Argument:1##NrOfUsers:1##Username:a##Password:b##Resolution:x###@")
                                            << "error:13 Type mismatch";
    QTest::newRow("empty frame") << QByteArray("@##@") << "error:13 Type mismatch";
    QTest::newRow("profile 2 with no list") << profile(2, 3, "op2", "pw2", 0) << "error:9 Subscript out of range";
    QTest::newRow("resolution beyond the list") << profile(1, 1, "op1", "pw1", 9) << "error:380 Invalid property value";
    QTest::newRow("argument beyond 32 bits") << QByteArray("@#cmd:2##Argument:2147483648###@") << "error:6 Overflow";
}

void tst_Messages::badFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, panel2);
    START_PANEL(m_server->server.serverPort());
    m_form->mLifeCnt = 7;
    const QString panel1 = m_form->PanelText(1);
    m_server->send(frame);
    QTRY_COMPARE_WITH_TIMEOUT(m_form->PanelText(2), panel2, kWait);
    QCOMPARE(m_form->mLifeCnt, 7);
    QCOMPARE(m_form->PanelText(1), panel1);
    // The link goes on working, and nothing was sent for the bad frame.
    expectNothingSent("");
    QCOMPARE(m_server->received, QByteArray("@#cmd:3##Argument:0###@"));
    QCOMPARE(m_form->mLifeCnt, 45);
}

void tst_Messages::ignoredCommands_data()
{
    QTest::addColumn<QByteArray>("frame");
    for (int cmd : {3, 5, 7, 9, 10, 12})
        QTest::newRow(qPrintable(QStringLiteral("cmd %1").arg(cmd)))
            << QStringLiteral("@#cmd:%1##Argument:1##ClientName:X###@").arg(cmd).toLatin1();
    QTest::newRow("cmd 1") << QByteArray("@#cmd:1##Argument:0###@");
    QTest::newRow("cmd 14") << QByteArray("@#cmd:14##Argument:0###@");
    QTest::newRow("no frame at all") << QByteArray("hello");
}

void tst_Messages::ignoredCommands()
{
    QFETCH(QByteArray, frame);
    START_PANEL(m_server->server.serverPort());
    m_form->mLifeCnt = 7;
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
    QCOMPARE(m_server->received, QByteArray("@#cmd:3##Argument:0###@"));
    QCOMPARE(m_form->PanelText(2), QStringLiteral("p2"));
    QCOMPARE(m_machine.size(), 0);
    QVERIFY(!gRdpStarted);
}

void tst_Messages::consoleAndPanel()
{
    m_server.reset(); // the console is the server here
    QProcess console;
    QByteArray out;
    connect(&console, &QProcess::readyReadStandardOutput, this, [&] { out += console.readAllStandardOutput(); });
    console.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), {QStringLiteral("--port"), QStringLiteral("0")});
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QTRY_VERIFY_WITH_TIMEOUT(listening.match(QString::fromUtf8(out)).hasMatch(), kWait);
    const quint16 port = listening.match(QString::fromUtf8(out)).captured(1).toUShort();

    m_dir->write(QStringLiteral("Client.cfg"),
                 {QStringLiteral("[Client]"), QStringLiteral("txtServer=127.0.0.1"), QStringLiteral("txtPort=%1").arg(port),
                  QStringLiteral("chkUserPass=1"), QStringLiteral("AutoConnect=1"), QStringLiteral("StartLifeCnt=45")});
    m_form = &Forms::LoadClient();
    QTRY_VERIFY_WITH_TIMEOUT(out.contains(" connected\n"), kWait);

    console.write("life\nidentify 1.20.18\nusers op1:pw1:0 op2:pw2:1\nlock locked connected OP2\n");
    QTRY_VERIFY_WITH_TIMEOUT(out.contains("cmd 9 remote status received"), kWait);
    QVERIFY(out.contains("cmd 3 sign of life | Argument 0 = no remote desktop session"));
    QVERIFY(out.contains("cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: "
                         + modSystemBasic::GetLocalComputerName().toUtf8()));
    QVERIFY(out.contains("cmd 7 profile received | Argument 2 = profile 2"));
    QCOMPARE(m_form->lblServerVersion->text(), QStringLiteral("01.20 Build: 18"));
    QCOMPARE(m_form->cboUsername->count(), 2);
    QCOMPARE(m_form->shpLockStatus->FillColor(), 255);
    QCOMPARE(m_form->PanelText(2), QStringLiteral("Locked : Client OP2 connected!"));

    console.write("restart\n");
    QTRY_COMPARE_WITH_TIMEOUT(m_machine.size(), 1, kWait);
    QCOMPARE(m_machine[0].flags, 3u);

    console.write("quit\n");
    QVERIFY(console.waitForFinished(kWait));
}

QTEST_MAIN(tst_Messages)
#include "tst_Messages.moc"
