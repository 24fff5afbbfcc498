// The whole panel with its real session control on an X server of its own, against two real
// RDP servers, the FreeRDP shadow server and xrdp, used as an operator would: on a bare X
// server (no window manager, as a kiosk runs) and under openbox with a panel holding a
// notification area; windowed and full screen; the picture compared pixel for pixel with the
// server's screen; keys typed before any click; the session closed every way the desktop
// offers; sessions started from the button and ordered over the side link. The session control
// is the program's: the session module, loaded by the first session.
#include "RdpTestEnvironment.h"

#include "client/Forms.h"
#include "client/ModuleSessionControl.h"
#include "client/SessionControlFactory.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include "../support/Panel.h"
#include "../support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <dlfcn.h>
#include <memory>

using namespace modGlobClientVar;
using namespace RdpTestEnvironment;

namespace {

constexpr int kWait = 30000;
constexpr unsigned kKeyA = 38; // X11 key code of "a" on an evdev keyboard

// The widget Qt puts into the notification area for the icon, if there is one.
QWidget *trayIcon()
{
    const QWidgetList widgets = QApplication::allWidgets();
    const auto icon = std::find_if(widgets.cbegin(), widgets.cend(), [](QWidget *w) {
        return qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 && w->isVisible();
    });
    return icon == widgets.cend() ? nullptr : *icon;
}

QPoint centreOf(const QWidget *w)
{
    return w->mapToGlobal(w->rect().center());
}

SessionControl *sessionControl()
{
    return Forms::MsRdpClient()->findChild<SessionControl *>(QStringLiteral("msts"));
}

// The panel's whole screen, for a person to look at when asked for (VESKORA_SCREENSHOT_DIR).
void keepScreenshot(const Probe &panel, QString name)
{
    if (const QString dir = qEnvironmentVariable("VESKORA_SCREENSHOT_DIR"); !dir.isEmpty())
        panel.grab().save(dir + u'/' + name.replace(QRegularExpression(QStringLiteral("\\W+")), QStringLiteral("-")) + ".png");
}

bool contains(const QImage &picture, QRgb colour)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixel(x, y) == colour)
                return true;
    return false;
}

} // namespace

class tst_e2e_panel : public QObject
{
    Q_OBJECT

public:
    explicit tst_e2e_panel(const RdpTestEnvironment::Display &panel) : m_panelDisplay(panel), m_desktop(panel.name()) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void session_data();
    void session();
    void sessionEndsWithTheServer();
    void xrdp();

private:
    // The panel reaching its server at that address by the address alone (the standard port);
    // with a side link there, ready for the server's orders.
    frmClient &startPanel(const QString &server, const QStringList &settings, bool link = true);
    // The side link gets one profile and the order to connect with it.
    void orderSession(const QString &user, const QString &password, int resolution);
    QByteArray signOfLife();

    const RdpTestEnvironment::Display &m_panelDisplay;
    Desktop m_desktop;
    QTemporaryDir m_config;
    std::unique_ptr<RdpTestEnvironment::Display> m_serverDisplay;
    std::unique_ptr<Probe> m_panel, m_server;
    std::unique_ptr<Server> m_rdp;
    QString m_address;
    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::LoopbackServer> m_link;
};

void tst_e2e_panel::initTestCase()
{
    QVERIFY2(m_panelDisplay.isRunning(), "Xvfb did not start (scripts/install-deps installs it)");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    frmClient::TimerIntervalMs = 3600 * 1000; // the tests drive the side link themselves
    SessionControlFactory::Set([](QWidget *parent) { return new ModuleSessionControl(parent); });
    // The server's screen is the panel's size, so that a full-screen session shows all of it.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    m_serverDisplay = std::make_unique<RdpTestEnvironment::Display>(screen.width(), screen.height());
    m_panel = std::make_unique<Probe>(m_panelDisplay.name());
    m_server = std::make_unique<Probe>(m_serverDisplay->name());
    QVERIFY(m_panel->isOpen() && m_server->isOpen());
    m_server->paintPattern();
    m_address = freeServerAddress();
    m_rdp = std::make_unique<Server>(*m_serverDisplay);
    QVERIFY2(m_rdp->start(3389, m_address), "the shadow server did not start");
}

void tst_e2e_panel::init()
{
    gUsersConfig.reset();
    gTryConnectCount = 0;
    m_dir = std::make_unique<TestSupport::ProgramDir>();
}

void tst_e2e_panel::cleanup()
{
    Forms::UnloadMsRdpClient();
    Forms::UnloadClient();
    delete frmClientTrayIcon::Instance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_link.reset();
    m_dir.reset();
    gUsersConfig.reset();
}

frmClient &tst_e2e_panel::startPanel(const QString &server, const QStringList &settings, bool link)
{
    QStringList lines{QStringLiteral("[Client]"), "txtServer=" + server};
    if (link) {
        m_link = std::make_unique<TestSupport::LoopbackServer>(0, QHostAddress(server));
        lines << QStringLiteral("txtPort=%1").arg(m_link->port()) << "txtUserName=op" << "chkUserPass=1" << "AutoConnect=1"
              << "StartConnectLifeCnt=3" << "StartLifeCnt=45";
    } else {
        lines << "txtPort=12559";
    }
    m_dir->write(QStringLiteral("Client.cfg"), lines + settings);
    // As the program starts: the notification icon first, which loads the main window.
    frmClientTrayIcon::Load();
    return *Forms::Client();
}

void tst_e2e_panel::orderSession(const QString &user, const QString &password, int resolution)
{
    QTRY_VERIFY_WITH_TIMEOUT(m_link->peer(), kWait);
    m_link->send(QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:%1##Password:%2##Resolution:%3###@")
                     .arg(user, password).arg(resolution).toLatin1());
    QTRY_COMPARE_WITH_TIMEOUT(m_link->received, QByteArray("@#cmd:7##Argument:1###@"), kWait);
    m_link->received.clear();
    m_link->send("@#cmd:11##Argument:1###@");
}

QByteArray tst_e2e_panel::signOfLife()
{
    m_link->received.clear();
    m_link->send("@#cmd:2##Argument:0###@");
    return QTest::qWaitFor([&] { return m_link->received.endsWith("#@"); }, kWait) ? m_link->received : "no answer";
}

// On each kind of desktop, windowed and full screen: the main window as the desktop needs it,
// the session's picture the server's pixel for pixel, the keyboard the session's from the start,
// minimising only where the window can come back, and closing it the way the desktop offers
// ends the session and brings the main window back.
void tst_e2e_panel::session_data()
{
    QTest::addColumn<bool>("managed");
    QTest::addColumn<int>("resolution"); // entry of the resolution list
    QTest::newRow("bare X, 1024 x 768") << false << 3;
    QTest::newRow("bare X, Full-Screen") << false << 0;
    QTest::newRow("openbox and tray, 1024 x 768") << true << 3;
    QTest::newRow("openbox and tray, Full-Screen") << true << 0;
}

void tst_e2e_panel::session()
{
    QFETCH(bool, managed);
    QFETCH(int, resolution);
    const bool fullScreen = resolution == 0;
    QVERIFY(m_desktop.setManaged(managed));
    frmClient &form = startPanel(m_address, {"txtUserName=" + UserName, "txtPassword=" + Password, "chkUserPass=1",
                                             QStringLiteral("cboResolution=%1").arg(resolution),
                                             "chkDisplayConnectionBar=1", "AutoConnect=0"}, false);

    // The main window covers the screen by its outer edges; under a window manager it keeps its
    // caption, and the notification area stays within reach above it.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QTRY_VERIFY_WITH_TIMEOUT(form.frameGeometry() == screen && (form.geometry().top() > 0) == managed, kWait);
    if (managed) {
        // The icon, once it stands in the notification area at the screen's top right.
        QTRY_VERIFY_WITH_TIMEOUT(trayIcon() && centreOf(trayIcon()).x() > screen.width() - 120, kWait);
        auto *menu = frmClientTrayIcon::Instance()->findChild<QMenu *>(QStringLiteral("mnuTrayMenu"));
        m_panel->click(centreOf(trayIcon()), 3);
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
    }

    // The operator presses "Remote Desktop".
    QTRY_VERIFY(form.isActiveWindow() || !managed);
    m_panel->click(centreOf(form.findChild<QPushButton *>(QStringLiteral("cmdRemoteDesktop"))));
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
    frmMsRdpClient *window = Forms::MsRdpClient();
    SessionControl *control = sessionControl();
    QVERIFY(control && !form.isVisible());
    // The library's own calls reach the module's performance-flag builder, not the library's.
    Dl_info builder;
    QVERIFY(dladdr(dlsym(RTLD_DEFAULT, "freerdp_performance_flags_make"), &builder));
    QVERIFY2(QByteArray(builder.dli_fname).endsWith("/libveskora-session.so"), builder.dli_fname);

    // The window is the desktop's size inside, the frame's corner at (1, 1); full screen it is
    // the screen.
    const QSize desktop = fullScreen ? screen.size() : QSize(1024, 768);
    QCOMPARE(control->geometry(), QRect(QPoint(0, 0), desktop));
    if (fullScreen) {
        QTRY_COMPARE(window->frameGeometry(), screen);
    } else {
        QTRY_COMPARE(window->frameGeometry().topLeft(), QPoint(1, 1));
        QCOMPARE(window->size(), desktop);
        QCOMPARE(window->frameGeometry().height() > desktop.height(), managed);
    }
    // What the panel's screen shows is the server's screen, pixel for pixel, but for the
    // connection bar over it, which names the server.
    auto *bar = control->findChild<QWidget *>(QStringLiteral("connectionBar"));
    QCOMPARE(bar->isVisible(), fullScreen);
    QCOMPARE(bar->findChild<QLabel *>()->text(), m_address);
    const auto withoutBar = [bar](QImage picture) {
        if (bar->isVisible())
            QPainter(&picture).fillRect(bar->geometry(), Qt::black);
        return picture;
    };
    const QRect shown(control->mapToGlobal(QPoint(0, 0)), desktop);
    QTRY_VERIFY_WITH_TIMEOUT(withoutBar(m_panel->grab(shown)) == withoutBar(m_server->grab(QRect(QPoint(0, 0), desktop))),
                             kWait);
    keepScreenshot(*m_panel, QString::fromLatin1(QTest::currentDataTag()));

    // Keys typed before any click reach the server, wherever the pointer is.
    m_panel->move(screen.bottomRight());
    m_panel->press(kKeyA, true);
    QTRY_VERIFY_WITH_TIMEOUT(m_server->keyDown(kKeyA), kWait);
    m_panel->press(kKeyA, false);
    QTRY_VERIFY_WITH_TIMEOUT(!m_server->keyDown(kKeyA), kWait);

    // The connection bar offers minimise only where the window can come back: here from the
    // notification area.
    auto *minimize = control->findChild<QToolButton *>(QStringLiteral("cmdConnectionBarMinimize"));
    QCOMPARE(minimize->isVisible(), fullScreen && managed);
    if (minimize->isVisible()) {
        m_panel->click(centreOf(minimize));
        QTRY_VERIFY(window->isMinimized());
        frmClientTrayIcon::Instance()->Form_MouseMove(frmClientTrayIcon::WM_LBUTTONDBLCLK);
        QTRY_VERIFY(!window->isMinimized() && window->isActiveWindow());
    }

    // Closed the way the desktop offers, the window ends the session; the main window returns.
    if (managed) {
        // The window manager's Alt+F4, once it has the window as its active one.
        QTRY_COMPARE(m_panel->activeWindow(), window->winId());
        m_panel->chord({"Alt_L", "F4"});
    } else if (fullScreen) {
        m_panel->click(centreOf(control->findChild<QToolButton *>(QStringLiteral("cmdConnectionBarClose"))));
    } else {
        window->close(); // a close request, as a window system sends it
    }
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(form.isVisible() && !window->isVisible() && !bar->isVisible());
}

// The server orders a session over the side link; the server goes away, an attempt finds
// nothing listening: each time the main window comes back and the server is told the state.
void tst_e2e_panel::sessionEndsWithTheServer()
{
    QVERIFY(m_desktop.setManaged(false));
    const QString address = freeServerAddress();
    Server server(*m_serverDisplay);
    QVERIFY(server.start(3389, address));
    frmClient &form = startPanel(address, {"cboResolution=3"});
    orderSession(UserName, Password, 3);
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
    QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:3###@"));
    server.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(form.isVisible() && !Forms::MsRdpClient()->isVisible());
    QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:0###@"));
    m_link->send("@#cmd:11##Argument:1###@");
    QTRY_VERIFY_WITH_TIMEOUT(gRdpStarted, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(!gRdpConnected && form.isVisible());
}

// A real terminal server with real logons. A wrong password: xrdp tells of it in its own
// window, drawn with cached glyphs on a black screen (nothing of the panel's memory); closing
// the session window brings the main window back. The profile's user and password: the
// session's screen appears pixel for pixel, keys typed before any click reach its xterm, the
// panel's removable media reach it (one there from the start, one plugged in meanwhile and
// unplugged again), and logging off inside the session brings the main window back.
void tst_e2e_panel::xrdp()
{
    if (!Xrdp::canRun())
        QSKIP("xrdp runs as root, and the test makes a user of its own: not root here");
    if (const QString why = TestSupport::TmpfsMount::refusal(); !why.isEmpty())
        QSKIP(qPrintable(why));
    QVERIFY(m_desktop.setManaged(false));
    const QString address = freeServerAddress();
    Xrdp xrdp;
    QVERIFY2(xrdp.start(address), qPrintable(xrdp.log()));
    QDir().mkpath(QStringLiteral("/media"));
    QTemporaryDir media(QStringLiteral("/media/veskora-e2e-XXXXXX"));
    TestSupport::TmpfsMount first(media.filePath(QStringLiteral("FIRST")));
    QVERIFY2(first.mounted(), qPrintable(first.error()));
    QFile note(media.filePath(QStringLiteral("FIRST/note.txt")));
    QVERIFY(note.open(QIODevice::WriteOnly) && note.write("from the panel") == 14);
    note.close();

    frmClient &form = startPanel(address, {"cboResolution=2", "chkRedirectDrives=1"});
    orderSession(xrdp.user(), QStringLiteral("not-the-password"), 2);
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
    const QRect shown(sessionControl()->mapToGlobal(QPoint(0, 0)), QSize(800, 600));
    QCOMPARE(sessionControl()->size(), shown.size());
    QTRY_VERIFY_WITH_TIMEOUT(contains(m_panel->grab(shown), 0xFF009CB5), kWait); // its window's title bar
    keepScreenshot(*m_panel, QStringLiteral("xrdp wrong password"));
    QImage black(shown.width(), 3, QImage::Format_RGB888);
    black.fill(Qt::black);
    QCOMPARE(m_panel->grab(QRect(shown.topLeft(), black.size())), black);
    QVERIFY(xrdp.sessionDisplay().isEmpty());
    Forms::MsRdpClient()->close();
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(form.isVisible());

    orderSession(xrdp.user(), xrdp.password(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
    std::unique_ptr<Probe> remote;
    QTRY_VERIFY_WITH_TIMEOUT(!xrdp.sessionDisplay().isEmpty() && (remote = std::make_unique<Probe>(xrdp.sessionDisplay()))->isOpen(),
                             kWait);
    // The session's screen, once its xterm covers the green background, pixel for pixel.
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QImage there = remote->grab(QRect(QPoint(0, 0), shown.size()));
            return !contains(there, 0xFF208040) && m_panel->grab(shown) == there;
        },
        kWait));
    keepScreenshot(*m_panel, QStringLiteral("xrdp session"));

    // Typed before any click, into the xterm of the session.
    m_panel->type(QStringLiteral("touch typed\n"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(xrdp.home() + QStringLiteral("/typed")), kWait);

    // The drives, as the session's user sees them.
    const QString drives = xrdp.home() + QStringLiteral("/thinclient_drives");
    const auto listed = [&](const QString &name) { return xrdp.runInSession({"ls", drives}).split(u'\n').contains(name); };
    QTRY_VERIFY_WITH_TIMEOUT(listed(QStringLiteral("FIRST")), kWait);
    QCOMPARE(xrdp.runInSession({"cat", drives + QStringLiteral("/FIRST/note.txt")}), QStringLiteral("from the panel"));
    TestSupport::TmpfsMount second(media.filePath(QStringLiteral("SECOND")));
    QVERIFY(second.mounted());
    QTRY_VERIFY_WITH_TIMEOUT(listed(QStringLiteral("SECOND")), kWait);
    QVERIFY(second.unmount());
    QTRY_VERIFY_WITH_TIMEOUT(!listed(QStringLiteral("SECOND")), kWait);
    QVERIFY(listed(QStringLiteral("FIRST")));

    // Logging off inside the session: the main window returns, the server is told 0.
    QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:3###@"));
    m_panel->type(QStringLiteral("exit\n"));
    QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
    QVERIFY(form.isVisible());
    QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:0###@"));
}

int main(int argc, char *argv[])
{
    privateFileSystem();
    // The panel's own X server, 1280 x 1024, to which the tests give a window manager or none.
    RdpTestEnvironment::Display panel(1280, 1024);
    if (panel.isRunning()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", panel.name().toLatin1());
        // Only the X notification area: no desktop bus that could offer another one.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    QApplication app(argc, argv);
    tst_e2e_panel test(panel);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_panel.moc"
