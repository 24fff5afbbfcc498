// The real daemon with two real panels on one machine, each with its own computer name: OP1 a program of
// its own in a host-name namespace, OP2 the panel in this process, its machine control recorded. One
// operator's "Remote Desktop" opens a session and locks the other panel with the first one's name; the
// lock lifts with the session; a reload and an order from the dashboard reach a panel over its link.
#include "RdpTestEnvironment.h"
#include "Version.h"
#include "client/ModuleSessionControl.h"
#include "client/SessionControlFactory.h"
#include "client/VbControls.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"
#include "system/modSystemBasic.h"
#include "../support/Panel.h"

#include <QApplication>
#include <QComboBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <sched.h>
#include <unistd.h>

using namespace RdpTestEnvironment;

class tst_e2e_server : public QObject
{
    Q_OBJECT

public:
    explicit tst_e2e_server(RdpTestEnvironment::Display &display) : m_display(display) {}

private:
    RdpTestEnvironment::Display &m_display;
    QTemporaryDir m_dir;
    QString m_address;
    quint16 m_port = 0, m_dashboard = 0;
    std::unique_ptr<RdpTestEnvironment::Display> m_serverDisplay, m_op1Display;
    std::unique_ptr<Server> m_rdp;
    QProcess m_daemon, m_op1;
    QByteArray m_log; // the daemon's
    std::unique_ptr<TestSupport::ProgramDir> m_op2Dir;
    QList<quint32> m_exits;

    void configure(const QStringList &op2Profiles)
    {
        const QStringList lines{"[server]", "listen = " + m_address, QStringLiteral("port = %1").arg(m_port), "interval = 1",
                                "release-after = 2", QStringLiteral("dashboard = 127.0.0.1:%1").arg(m_dashboard),
                                "token-file = " + m_dir.filePath("token"), "[profile op]", "user = " + UserName, "password = " + Password,
                                "resolution = 2", "[profile spare]", "user = spare", "[panel OP1]", "profiles = op",
                                "[panel OP2]", "profiles = " + op2Profiles.join(u',')};
        TestSupport::writeBytes(m_dir.filePath("server.conf"), lines.join(u'\n').toUtf8());
    }
    // Waits for the daemon to tell it; what the daemon told so far otherwise, for the failure.
    bool logged(const QByteArray &text)
    {
        if (QTest::qWaitFor([&] { return (m_log += m_daemon.readAllStandardError()).contains(text); }, kWait))
            return true;
        qWarning().noquote() << m_log.right(4000);
        return false;
    }
    QStringList panelSettings() const
    {
        return QStringList{"[Client]", "cboResolution=2"} + linkedPanel(m_address, m_port);
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("two computer names on one machine need host-name namespaces (root)");
        QVERIFY2(m_display.isRunning(), "Xvfb did not start (scripts/install-deps installs it)");
        modSystemBasic::SetMachineControl([this](quint32 flags, quint32) { m_exits << flags; });
        SessionControlFactory::Set([](QWidget *parent) { return new ModuleSessionControl(parent); });
        m_serverDisplay = std::make_unique<RdpTestEnvironment::Display>();
        m_op1Display = std::make_unique<RdpTestEnvironment::Display>();
        Probe(m_serverDisplay->name()).paint(1);
        m_rdp = std::make_unique<Server>(*m_serverDisplay);
        QVERIFY2(m_rdp->start(3389, m_address = freeServerAddress()), "the shadow server did not start");
        m_port = TestSupport::refusingPort();
        m_dashboard = TestSupport::refusingPort();
        TestSupport::writeBytes(m_dir.filePath("token"), "e2e-token\n");
        configure({"op"});
        // A file it cannot use ends it at once with the place and the reason, a port taken too.
        TestSupport::writeBytes(m_dir.filePath("bad.conf"), "[server]\n\nmode = everyone\n");
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress(m_address)));
        TestSupport::writeBytes(m_dir.filePath("taken.conf"), QStringLiteral("[server]\nlisten = %1\nport = %2\ndashboard =\n").arg(m_address).arg(taken.serverPort()).toUtf8());
        for (const auto &[file, status, told] : {std::tuple{"bad.conf", 2, m_dir.filePath("bad.conf") + ":3: mode \"everyone\" is not exclusive or shared"},
                                                 std::tuple{"taken.conf", 1, QStringLiteral("cannot listen for panels on %1 port %2").arg(m_address).arg(taken.serverPort())}}) {
            m_daemon.start(VESKORA_SERVER, {"--config", m_dir.filePath(file)});
            QVERIFY(m_daemon.waitForFinished(kWait) && m_daemon.exitCode() == status);
            QVERIFY(m_daemon.readAllStandardError().contains(told.toUtf8()));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_LOGGING_RULES", "veskora.*=true");
        m_daemon.setProcessEnvironment(environment);
        m_daemon.start(VESKORA_SERVER, {"--config", m_dir.filePath("server.conf")});
        QVERIFY(logged("running with"));
    }
    void cleanupTestCase()
    {
        m_op1.kill();
        m_op1.waitForFinished();
        Forms::UnloadMsRdpClient();
        Forms::UnloadClient();
        delete frmClientTrayIcon::Instance();
        m_daemon.terminate();
        QVERIFY(m_daemon.waitForFinished(kWait) && m_daemon.exitCode() == 0);
    }

    void twoPanels()
    {
        // OP2: this process, named by its own namespace.
        QCOMPARE(modSystemBasic::GetLocalComputerName(), QStringLiteral("OP2"));
        m_op2Dir = std::make_unique<TestSupport::ProgramDir>();
        m_op2Dir->write("Client.cfg", panelSettings());
        frmClientTrayIcon::Load();
        frmClient &op2 = *Forms::Client();
        auto *users = TestSupport::child<QComboBox>(&op2, "cboUsername");
        auto *button = TestSupport::child<QPushButton>(&op2, "cmdRemoteDesktop");
        QTRY_VERIFY_WITH_TIMEOUT(users->isVisible() && users->count() == 1 && button->isEnabled(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(op2.PanelText(2), QStringLiteral("No Client connected!"), kWait);

        // OP1: a copy of the program with its own settings, started as a program is.
        const QString program = m_dir.filePath("op1/Veskora");
        QVERIFY(QDir().mkpath(m_dir.filePath("op1")) && QFile::copy(VESKORA_PANEL, program)
                && QFile::copy(VESKORA_SESSION_MODULE, m_dir.filePath("op1/libveskora-session.so")));
        TestSupport::writeBytes(m_dir.filePath("op1/Client.cfg"), panelSettings().join("\r\n").toUtf8() + "\r\n");
        m_op1.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        launch(m_op1, {"unshare", "--uts", "sh", "-c", "hostname OP1 && exec \"$0\"", program},
               {"DISPLAY=" + m_op1Display->name(), "QT_QPA_PLATFORM=xcb", "XDG_CONFIG_HOME=" + m_dir.filePath("op1-config"),
                "QT_LOGGING_RULES=veskora.*=true"});
        QVERIFY(logged("panel OP1 at "));
        QVERIFY(m_log.contains(QByteArray(", version ") + Version::Text));

        // OP1's operator presses "Remote Desktop", where this build lays it out on a screen of that size.
        Probe op1(m_op1Display->name());
        QRect window;
        QTRY_VERIFY_WITH_TIMEOUT(op1.topLevel("Veskora", &window) && window.size() == QSize(1024, 768), kWait);
        QVERIFY(logged("-> OP1 cmd:8 Argument:0"));
        op1.click(button->mapToGlobal(button->rect().center()));
        QVERIFY(logged("request to connect OP1 with profile 1 granted"));
        QVERIFY2(logged("<- OP1 cmd 3 argument 3"), qPrintable(m_rdp->log()));
        QTRY_VERIFY_WITH_TIMEOUT(op1.topLevel("Veskora", &window) && window.size() == QSize(800, 600), kWait);
        const QImage server = Probe(m_serverDisplay->name()).grab(QRect(0, 0, 800, 600));
        QTRY_VERIFY_WITH_TIMEOUT(op1.grab(window) == server, kWait);

        // OP2 shows the lock with OP1's name; asked anyway, the server refuses it.
        QTRY_COMPARE_WITH_TIMEOUT(op2.PanelText(2), QStringLiteral("Locked : Client OP1 connected!"), kWait);
        QVERIFY(!button->isEnabled() && TestSupport::child<Shape>(&op2, "shpLockStatus")->FillColor() == 255);
        op2.cmdRemoteDesktop_Click();
        QVERIFY(logged("request to connect OP2 refused: OP1 holds the server"));
        QVERIFY(!modGlobClientVar::gRdpStarted);

        // OP1's session ends with its server: the lock lifts.
        m_rdp->kill();
        QVERIFY(logged("<- OP1 cmd 3 argument 0"));
        QVERIFY(logged("the server is free again"));
        QTRY_COMPARE_WITH_TIMEOUT(op2.PanelText(2), QStringLiteral("No Client connected!"), kWait);
        QVERIFY(button->isEnabled());

        // A file it cannot use is refused with its place, and the running configuration stays.
        TestSupport::writeBytes(m_dir.filePath("server.conf"), "[server]\ninterval = 0\n");
        ::kill(pid_t(m_daemon.processId()), SIGHUP);
        QVERIFY(logged("reload refused, the running configuration stays: " + m_dir.filePath("server.conf").toUtf8() + ":2: interval"));
        // A reload hands OP2 its new profiles over the link it has.
        configure({"op", "spare"});
        ::kill(pid_t(m_daemon.processId()), SIGHUP);
        QVERIFY(logged("configuration reloaded"));
        QTRY_COMPARE_WITH_TIMEOUT(users->count(), 2, kWait);
        QCOMPARE(users->itemText(1), QStringLiteral("spare"));
        QCOMPARE(m_log.count("panel OP2 at"), 1);
        // The diagnostics tell every command by number, and no password.
        QVERIFY(logged("<- OP2 cmd 7 argument 2") && m_log.contains("-> OP2 cmd:6 Argument:2"));
        QVERIFY(!m_log.contains("left") && !m_log.contains(Password.toLatin1()));

        // An order from the dashboard's API reaches OP2's machine control: restart, as on any platform but NT.
        QNetworkAccessManager network;
        QNetworkRequest restart(QUrl(QStringLiteral("http://127.0.0.1:%1/api/panels/OP2/restart").arg(m_dashboard)));
        restart.setRawHeader("Authorization", "Bearer e2e-token");
        std::unique_ptr<QNetworkReply> reply(network.post(restart, QByteArray()));
        QTRY_COMPARE_WITH_TIMEOUT(m_exits, QList<quint32>{modSystemBasic::EWX_SHUTDOWN | modSystemBasic::EWX_REBOOT}, kWait);
    }
};

int main(int argc, char *argv[])
{
    // A host name of this process's own, before anything reads it.
    if (::geteuid() == 0 && (::unshare(CLONE_NEWUTS) != 0 || ::sethostname("OP2", 3) != 0))
        return 1;
    RdpTestEnvironment::Display display;
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display.name().toLatin1());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    tst_e2e_server test(display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_server.moc"
