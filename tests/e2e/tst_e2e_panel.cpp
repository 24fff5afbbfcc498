// The whole panel with its real session control against the FreeRDP shadow server: a session
// started from the "Remote Desktop" button and one ordered by the server over the side link
// (command 11) come up, the sign-of-life answer follows the session, and every end of the
// session brings the main window back.
#include "RdpTestEnvironment.h"

#include "client/Forms.h"
#include "client/SessionControlFactory.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "rdp/FreeRdpSessionControl.h"
#include "serverlink/SocketControl.h"
#include "startup/modGlobClientVar.h"

#include "../support/TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace modGlobClientVar;
using namespace RdpTestEnvironment;

namespace {

constexpr int kWait = 30000;

// The companion program's end of the side link.
class SideLinkServer
{
public:
    explicit SideLinkServer(const QHostAddress &address)
    {
        listening = server.listen(address);
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

} // namespace

class tst_e2e_panel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sessionFromButton();
    void sessionOrderedOverSideLink();

private:
    // The panel reaches the remote desktop on the standard port of the server's address; each
    // run takes a loopback address of its own so that runs side by side do not meet.
    bool pickAddress();

    QTemporaryDir m_config;
    std::unique_ptr<RdpTestEnvironment::Display> m_display;
    std::unique_ptr<Server> m_rdp;
    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    QString m_address;
};

void tst_e2e_panel::initTestCase()
{
    const QString missing = missingPrograms();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (scripts/install-deps)").arg(missing)));
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    frmClient::TimerIntervalMs = 3600 * 1000; // the tests drive the side link themselves
    SessionControlFactory::Set([](QWidget *parent) { return new FreeRdpSessionControl(parent); });
    m_display = std::make_unique<RdpTestEnvironment::Display>();
    QVERIFY2(m_display->isRunning(), "Xvfb did not start");
    QVERIFY(m_display->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#3060a0")}));
}

bool tst_e2e_panel::pickAddress()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const QString address = QStringLiteral("127.0.%1.%2")
                                    .arg(QRandomGenerator::global()->bounded(1, 255))
                                    .arg(QRandomGenerator::global()->bounded(2, 255));
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), 3389)) {
            probe.close();
            m_address = address;
            return true;
        }
    }
    return false;
}

void tst_e2e_panel::init()
{
    gUsersConfig.reset();
    gStartLifeCnt = 45;
    gStartConnectLifeCnt = 3;
    gTryConnectCount = 0;
    QVERIFY(pickAddress());
    m_dir = std::make_unique<TestSupport::ProgramDir>();
    m_rdp = std::make_unique<Server>(*m_display);
    QVERIFY2(m_rdp->start(3389, m_address), "the shadow server did not start");
}

void tst_e2e_panel::cleanup()
{
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_rdp.reset();
    m_dir.reset();
    gUsersConfig.reset();
}

void tst_e2e_panel::sessionFromButton()
{
    m_dir->write(QStringLiteral("Client.cfg"),
                 {QStringLiteral("[Client]"), QStringLiteral("txtServer=") + m_address, QStringLiteral("txtPort=12559"),
                  QStringLiteral("txtUserName=") + UserName, QStringLiteral("txtPassword=") + Password,
                  QStringLiteral("chkUserPass=1"), QStringLiteral("cboResolution=3"), QStringLiteral("AutoConnect=0")});
    frmClient &form = Forms::LoadClient();
    QTRY_VERIFY(form.isVisible());
    form.txtServer->setText(m_address);
    form.txtUserName->setText(UserName);
    form.txtPassword->setText(Password);
    form.cboResolution->setCurrentText(QStringLiteral("1024 x 768"));

    form.cmdRemoteDesktop_Click();
    QVERIFY(gRdpStarted);
    QVERIFY(!form.isVisible());
    frmMsRdpClient *window = Forms::MsRdpClient();
    QVERIFY(window);
    auto *control = qobject_cast<FreeRdpSessionControl *>(window->msts);
    QVERIFY(control);
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
    QVERIFY(window->isVisible());
    // The server's screen in the session window.
    QTRY_COMPARE_WITH_TIMEOUT(QColor(control->screenImage().pixel(5, 5)), QColor(0x30, 0x60, 0xa0), kWait);

    // The server goes away: the session window hides and the main window returns.
    m_rdp->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(!gRdpConnected);
    QVERIFY(form.isVisible());
    QVERIFY(!window->isVisible());

    // Nothing listens now: the attempt fails, and again the main window comes back.
    form.cmdRemoteDesktop_Click();
    QVERIFY(gRdpStarted);
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(!gRdpConnected);
    QVERIFY(form.isVisible());
}

void tst_e2e_panel::sessionOrderedOverSideLink()
{
    SideLinkServer link{QHostAddress(m_address)};
    QVERIFY(link.listening);
    m_dir->write(QStringLiteral("Client.cfg"),
                 {QStringLiteral("[Client]"), QStringLiteral("txtServer=") + m_address,
                  QStringLiteral("txtPort=%1").arg(link.server.serverPort()), QStringLiteral("txtUserName=op"),
                  QStringLiteral("txtPassword="), QStringLiteral("chkUserPass=1"), QStringLiteral("cboResolution=3"),
                  QStringLiteral("AutoConnect=1"), QStringLiteral("StartConnectLifeCnt=3"),
                  QStringLiteral("StartLifeCnt=45")});
    frmClient &form = Forms::LoadClient();
    QTRY_VERIFY_WITH_TIMEOUT(form.Winsock->State() == SocketControl::sckConnected, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(link.peer, kWait);

    // One profile, acknowledged; then the order to connect with it.
    const QByteArray profile = QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:%1##Password:%2##Resolution:3###@")
                                   .arg(UserName, Password)
                                   .toLatin1();
    link.send(profile);
    QTRY_COMPARE_WITH_TIMEOUT(link.received, QByteArray("@#cmd:7##Argument:1###@"), kWait);
    link.send("@#cmd:11##Argument:1###@");
    QTRY_VERIFY_WITH_TIMEOUT(gRdpStarted, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);

    // The sign-of-life answer tells the server the session is up.
    link.received.clear();
    link.send("@#cmd:2##Argument:0###@");
    QTRY_COMPARE_WITH_TIMEOUT(link.received, QByteArray("@#cmd:3##Argument:3###@"), kWait);

    m_rdp->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(form.isVisible());
    link.received.clear();
    link.send("@#cmd:2##Argument:0###@");
    QTRY_COMPARE_WITH_TIMEOUT(link.received, QByteArray("@#cmd:3##Argument:0###@"), kWait);
}

QTEST_MAIN(tst_e2e_panel)
#include "tst_e2e_panel.moc"
