// The whole panel with the session module, used as an operator would: the shadow server from the
// button, xrdp over the side link.
#include "RdpTestEnvironment.h"
#include "client/ModuleSessionControl.h"
#include "client/SessionControlFactory.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"
#include "../shell/DialogScript.h"
#include "../support/Panel.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <pthread.h>

using namespace modGlobClientVar;
using namespace RdpTestEnvironment;

namespace {

using TestSupport::child;
SessionControl *sessionControl() { return Forms::MsRdpClient()->findChild<SessionControl *>(QStringLiteral("msts")); }

QString modulePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/libveskora-session.so"); }

// A library of this process, or null when none of that name is loaded.
std::unique_ptr<void, int (*)(void *)> loaded(const QString &library)
{
    return {dlopen(QFile::encodeName(library).constData(), RTLD_LAZY | RTLD_NOLOAD), dlclose};
}

// The file whose function a library's own calls to NAME reach: the address its table of calls
// (relocated in place by the loader) holds for it.
QByteArray boundTo(const char *library, const char *name)
{
    const auto handle = loaded(QString::fromLatin1(library));
    link_map *map = nullptr;
    if (!handle || dlinfo(handle.get(), RTLD_DI_LINKMAP, &map) != 0)
        return {};
    const ElfW(Rela) *calls = nullptr;
    const ElfW(Sym) *symbols = nullptr;
    const char *names = nullptr;
    size_t size = 0;
    for (const ElfW(Dyn) *d = map->l_ld; d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_JMPREL)
            calls = reinterpret_cast<const ElfW(Rela) *>(d->d_un.d_ptr);
        else if (d->d_tag == DT_PLTRELSZ)
            size = d->d_un.d_val;
        else if (d->d_tag == DT_SYMTAB)
            symbols = reinterpret_cast<const ElfW(Sym) *>(d->d_un.d_ptr);
        else if (d->d_tag == DT_STRTAB)
            names = reinterpret_cast<const char *>(d->d_un.d_ptr);
    }
    for (size_t i = 0; calls && symbols && names && i < size / sizeof(ElfW(Rela)); ++i) {
        Dl_info where{};
        if (qstrcmp(names + symbols[ELF64_R_SYM(calls[i].r_info)].st_name, name) == 0)
            return dladdr(*reinterpret_cast<void *const *>(map->l_addr + calls[i].r_offset), &where) ? where.dli_fname : "";
    }
    return {};
}

// The resident kilobytes of this process's read-only mappings of the library of that name.
qint64 residentCodeKb(const QByteArray &library)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    qint64 kb = 0;
    bool inside = false;
    for (const QByteArray &line : smaps.open(QIODevice::ReadOnly) ? smaps.readAll().split('\n') : QList<QByteArray>()) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields.at(0).contains('-'))
            inside = fields.at(1).startsWith("r-")
                     && fields.at(5).mid(fields.at(5).lastIndexOf('/') + 1).startsWith(library);
        else if (inside && fields.value(0) == "Rss:")
            kb += fields.value(1).toLongLong();
    }
    return kb;
}

// The thread-local key the process would get next.
int freeThreadKey()
{
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0)
        return -1;
    pthread_key_delete(key);
    return int(key);
}

qsizetype count(const QImage &picture, QRgb colour)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const auto *pixels = reinterpret_cast<const QRgb *>(rgb.constBits());
    return std::count(pixels, pixels + rgb.width() * rgb.height(), colour);
}

// The connections a remote desktop server at that address holds with its clients, as its
// system sees them (a client gone but not yet noticed by the server would stay in close-wait).
int serverConnections(const QString &address)
{
    QString out;
    if (!run({"ss", "-Htn", "state", "established", "state", "close-wait", "src", address}, &out))
        return -1;
    return int(out.split(u'\n', Qt::SkipEmptyParts).size());
}

// The program's message box on the screen, if any.
QMessageBox *shownBox()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    return nullptr;
}

// The panel's diagnostics, as an administrator turning them all on would read them.
QStringList g_log;
QtMessageHandler g_previous = nullptr;

} // namespace

class tst_e2e_panel : public QObject
{
    Q_OBJECT

public:
    // The panel on an X server, or under a Wayland compositor (sway, cage or cage-headless).
    tst_e2e_panel(RdpTestEnvironment::Display *display, Compositor *compositor) : m_panelDisplay(display), m_compositor(compositor) {}

private:
    frmClient &startPanel(const QStringList &settings)
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_dir->write(QStringLiteral("Client.cfg"), QStringList{QStringLiteral("[Client]")} + settings);
        frmClientTrayIcon::Load(); // as the program starts: the icon loads the main window
        return *Forms::Client();
    }
    // The panel that the side link's server at that address orders.
    frmClient &startLinkedPanel(const QString &address, const QStringList &settings)
    {
        m_link = std::make_unique<TestSupport::LoopbackServer>(0, QHostAddress(address));
        return startPanel(linkedPanel(address, m_link->port()) + settings);
    }
    // The side link's server asks for the sign of life; the answer.
    QByteArray signOfLife()
    {
        m_link->received.clear();
        m_link->send("@#cmd:2##Argument:0###@");
        return QTest::qWaitFor([&] { return m_link->received.endsWith("#@"); }, kWait) ? m_link->received : "no answer";
    }
    // The side link gets one profile (its resolution an entry of the list) and the order to connect with it.
    void orderSession(const QString &user, const QString &password, int resolution = 2)
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_link->peer(), kWait);
        m_link->send(QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:%1##Password:%2##Resolution:%3###@")
                         .arg(user, password).arg(resolution).toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(m_link->received, QByteArray("@#cmd:7##Argument:1###@"), kWait);
        m_link->received.clear();
        m_link->send("@#cmd:11##Argument:1###@");
    }
    // What the panel's screen shows, where a widget's point is on it (a compositor puts the windows
    // at the top left), and its keyboard and pointer used as by hand; where the compositor has none
    // (headless), keys and buttons come as the toolkit hands them on from a keyboard and a pointer.
    QImage grab(const QRect &rect) const { return m_panel ? m_panel->grab(rect) : m_compositor->grab(rect); }
    QPoint onScreen(const QWidget *w, const QPoint &p) const { return m_panel ? w->mapToGlobal(p) : w->mapTo(w->window(), p); }
    const Probe *input() const { return m_panel ? m_panel.get() : m_compositor->input(); }
    void click(QWidget *w) const
    {
        for (const bool down : {true, false})
            button(w, w->rect().center(), down);
    }
    void key(bool down) const
    {
        if (input()) {
            input()->xdo({down ? "keydown" : "keyup", "a"});
        } else {
            QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, kKeyA, 0, 0, down ? "a" : "");
            QApplication::sendEvent(QApplication::focusWidget(), &event);
        }
    }
    void button(QWidget *w, const QPoint &at, bool down) const
    {
        const QPoint there = onScreen(w, at);
        // The release comes where the press left the pointer: a synchronised move to where the
        // pointer is already waits out xdotool's 15 s for a motion that never comes.
        if (input() && down)
            input()->xdo({"mousemove", "--sync", QString::number(there.x()), QString::number(there.y()), "mousedown", "1"});
        else if (input())
            input()->xdo({"mouseup", "1"});
        else if (down)
            QTest::mousePress(w->window()->windowHandle(), Qt::LeftButton, {}, there);
        else
            QTest::mouseRelease(w->window()->windowHandle(), Qt::LeftButton, {}, there);
    }
    // Keys and a press and release in the session reach the server, a click where it was made.
    void inputReachesServer(QWidget *control, const QPoint &at) const
    {
        for (const bool down : {true, false}) {
            key(down);
            // The server gets the key where the panel's keyboard has it.
            QTRY_COMPARE_WITH_TIMEOUT(m_server->keyDown(kKeyA), down, kWait);
        }
        for (const bool down : {true, false}) {
            button(control, at, down);
            unsigned buttons = 0;
            QTRY_VERIFY_WITH_TIMEOUT(m_server->pointer(&buttons) == at && bool(buttons & Probe::LeftButtonMask) == down, kWait);
        }
    }
    RdpTestEnvironment::Display *m_panelDisplay;
    Compositor *m_compositor;
    QTemporaryDir m_config;
    std::unique_ptr<RdpTestEnvironment::Display> m_serverDisplay;
    std::unique_ptr<Probe> m_panel, m_server;
    std::unique_ptr<Server> m_rdp;
    QString m_address;
    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::LoopbackServer> m_link;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_panelDisplay ? m_panelDisplay->isRunning() : !m_compositor->socket().isEmpty(),
                 "Xvfb or the compositor did not start (scripts/install-deps installs them)");
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        frmClient::TimerIntervalMs = 3600 * 1000; // the tests drive the side link themselves
        SessionControlFactory::Set([](QWidget *parent) { return new ModuleSessionControl(parent); });
        QLoggingCategory::setFilterRules(QStringLiteral("veskora.*=true"));
        g_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (QByteArray(context.category).startsWith("veskora."))
                g_log << QString::fromLatin1(context.category) + u' ' + message;
            else
                g_previous(type, context, message);
        });
        // The server's screen is the panel's size, so that a full-screen session shows all of it.
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        m_serverDisplay = std::make_unique<RdpTestEnvironment::Display>(screen.width(), screen.height());
        if (m_panelDisplay)
            m_panel = std::make_unique<Probe>(m_panelDisplay->name());
        m_server = std::make_unique<Probe>(m_serverDisplay->name());
        QVERIFY((!m_panelDisplay || m_panel->isOpen()) && m_server->isOpen());
        m_server->paint(0);
        m_rdp = std::make_unique<Server>(*m_serverDisplay);
        QVERIFY2(m_rdp->start(3389, m_address = freeServerAddress()), "the shadow server did not start");
    }
    void cleanup()
    {
        gSecurityEnabled = false;
        Forms::UnloadMsRdpClient();
        Forms::UnloadClient();
        delete frmClientTrayIcon::Instance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_link.reset();
        m_dir.reset();
        gUsersConfig.reset();
        gTryConnectCount = 0;
    }
    // On each kind of desktop, windowed and full screen: geometry, picture one to one, keyboard from
    // the start, keys and clicks reaching the server, minimise only where the window can come back,
    // closing as the desktop offers it.
    void session_data()
    {
        QTest::addColumn<bool>("managed");
        QTest::addColumn<int>("resolution"); // entry of the resolution list
        QTest::addColumn<bool>("ordered");   // by the server over the side link, else with the button
        if (const QString compositor = qEnvironmentVariable("VESKORA_E2E_WAYLAND"); compositor.startsWith(QLatin1String("cage"))) {
            QTest::newRow(qPrintable(compositor + ", 800 x 600, ordered by the server")) << true << 2 << true;
            QTest::newRow(qPrintable(compositor + ", Full-Screen, ordered by the server")) << true << 0 << true;
        } else if (m_compositor) {
            QTest::newRow("sway, 1024 x 768") << true << 3 << false;
            QTest::newRow("sway, Full-Screen") << true << 0 << false;
        } else {
            QTest::newRow("bare X, 1024 x 768") << false << 3 << false;
            QTest::newRow("bare X, Full-Screen") << false << 0 << false;
            QTest::newRow("openbox and tray, 1024 x 768") << true << 3 << false;
            QTest::newRow("openbox and tray, Full-Screen") << true << 0 << true;
        }
    }
    void session()
    {
        QFETCH(bool, managed);
        QFETCH(int, resolution);
        QFETCH(bool, ordered);
        const bool fullScreen = resolution == 0;
        QVERIFY(!m_panelDisplay || m_panelDisplay->setManaged(managed));
        const QStringList settings{"txtUserName=" + UserName, "txtPassword=" + Password, "chkDisplayConnectionBar=1"};
        // Ordered, the profile's resolution counts, not the panel's own.
        frmClient &form = ordered ? startLinkedPanel(m_address, settings + QStringList{"cboResolution=1"})
                                  : startPanel(settings + QStringList{"txtServer=" + m_address, "chkUserPass=1", "txtPort=12559",
                                                                      QStringLiteral("cboResolution=%1").arg(resolution), "AutoConnect=0"});
        // Under a window manager the main window keeps its caption; a compositor shows it full screen.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        if (m_panel)
            QTRY_VERIFY_WITH_TIMEOUT(form.frameGeometry() == screen && (form.geometry().top() > 0) == managed, kWait);
        else
            QTRY_VERIFY_WITH_TIMEOUT(form.isFullScreen() && form.size() == screen.size(), kWait);
        QTRY_VERIFY(form.isActiveWindow() || !managed);
        const qint64 toolkitKb = residentCodeKb("libQt6Widgets.so");
        if (ordered)
            orderSession(UserName, Password, resolution);
        else
            click(child(&form, "cmdRemoteDesktop"));
        QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
        // Established, the session lets go of the toolkit's code that built and drew the main window.
        QTRY_VERIFY(residentCodeKb("libQt6Widgets.so") < toolkitKb / 2);
        frmMsRdpClient *window = Forms::MsRdpClient();
        SessionControl *control = sessionControl();
        QVERIFY(!form.isVisible());
        // The library's own calls reach the module's replacements, in every session.
        for (const char *name : {"freerdp_performance_flags_make", "Sleep"})
            QVERIFY2(boundTo("libfreerdp2.so.2", name).endsWith("/libveskora-session.so"), name);
        const QSize desktop = fullScreen ? screen.size() : resolution == 2 ? QSize(800, 600) : QSize(1024, 768);
        QCOMPARE(control->geometry(), QRect(QPoint(0, 0), desktop));
        // Full screen the window is the screen; else its frame's corner is at (1, 1) where windows have
        // places, and its inside the desktop.
        if (m_panel)
            QTRY_VERIFY(window->frameGeometry().topLeft() == (fullScreen ? QPoint(0, 0) : QPoint(1, 1))
                        && (window->frameGeometry().size() == desktop) == (fullScreen || !managed));
        else
            QTRY_VERIFY(window->isFullScreen() == fullScreen && window->size() == desktop);
        // What the panel's screen shows is the server's screen, but for the connection bar over it.
        const QPointer<QWidget> bar = control->findChild<QWidget *>(QStringLiteral("connectionBar"));
        QCOMPARE(bar->isVisible(), fullScreen);
        const auto withoutBar = [bar](QImage picture) {
            if (bar->isVisible())
                QPainter(&picture).fillRect(bar->geometry(), Qt::black);
            return picture;
        };
        const QRect shown(onScreen(control, QPoint(0, 0)), desktop);
        const auto pictureRight = [&] { return withoutBar(grab(shown)) == withoutBar(m_server->grab(QRect(QPoint(0, 0), desktop))); };
        QTRY_VERIFY_WITH_TIMEOUT(pictureRight(), kWait);
        // Live: a change on the server's screen reaches the panel's.
        m_server->paint(1);
        QTRY_VERIFY_WITH_TIMEOUT(pictureRight(), kWait);
        m_server->paint(0);
        const char *way = !m_panel ? "toolkit" : qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM") ? "X connection" : "shared";
        QVERIFY(g_log.filter(QStringLiteral("veskora.session picture")).constLast().contains(way));
        // The session window has the keyboard before any click, wherever the pointer is.
        if (m_panel)
            QTRY_COMPARE_WITH_TIMEOUT(m_panel->inputFocus(), window->winId(), kWait);
        else
            QTRY_VERIFY_WITH_TIMEOUT(window->isActiveWindow() && control->hasFocus(), kWait);
        if (input())
            input()->xdo({"mousemove", "--sync", QString::number(screen.right()), QString::number(screen.bottom())});
        inputReachesServer(control, QPoint(desktop.width() / 3, desktop.height() / 2));
        auto *minimize = control->findChild<QWidget *>(QStringLiteral("cmdConnectionBarMinimize"));
        QCOMPARE(minimize->isVisible(), fullScreen && managed && m_panel);
        if (minimize->isVisible()) {
            click(minimize);
            QTRY_VERIFY(window->isMinimized());
            frmClientTrayIcon::Instance()->Form_MouseMove(frmClientTrayIcon::WM_LBUTTONDBLCLK);
            QTRY_VERIFY(!window->isMinimized() && window->isActiveWindow());
            QTRY_COMPARE_WITH_TIMEOUT(m_panel->inputFocus(), window->winId(), kWait);
            QTRY_VERIFY_WITH_TIMEOUT(pictureRight(), kWait);
        }
        if (managed && m_panel)
            m_panel->xdo({"key", "alt+F4"});
        else if (fullScreen)
            click(control->findChild<QWidget *>(QStringLiteral("cmdConnectionBarClose")));
        else
            window->close(); // a close request, as a window system sends it
        QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
        QVERIFY(form.isVisible() && !window->isVisible() && (!bar || !bar->isVisible()));
        // The session leaves nothing behind: the module and the remote desktop libraries are
        // gone but for those that stay for good (all of them under AddressSanitizer), and no
        // session takes a thread key for good.
        QTRY_VERIFY(bool(loaded(modulePath())) == ModuleSessionControl::ModuleStays
                    && bool(loaded("libfreerdp2.so.2")) == ModuleSessionControl::ModuleStays);
        QVERIFY(loaded("libwinpr2.so.2") && loaded("libpixman-1.so.0"));
        static const int firstFreeKey = freeThreadKey();
        QCOMPARE(freeThreadKey(), firstFreeKey);
    }
    // The main window rebuilt twice while a windowed session runs (the tray's Configuration behind
    // the password, then Save): the session keeps its picture and is told as connected; closing its
    // window then ends it at the server.
    void rebuildDuringSession()
    {
        QVERIFY(m_panelDisplay && m_panelDisplay->setManaged(true));
        startLinkedPanel(m_address, {"SecurityPassword=gate-7"});
        gSecurityEnabled = true;
        orderSession(UserName, Password);
        QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
        frmMsRdpClient *window = Forms::MsRdpClient();
        const QRect shown(sessionControl()->mapToGlobal(QPoint(0, 0)), QSize(800, 600));
        const auto pictureRight = [&] { return m_panel->grab(shown) == m_server->grab(QRect(QPoint(0, 0), shown.size())); };
        QTRY_VERIFY_WITH_TIMEOUT(pictureRight(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(serverConnections(m_rdp->address()), 1, kWait);

        // The operator types the password into the prompt the double click brings.
        DialogScript script;
        script.then([] { return promptShown() && frmEnterPassword::Instance()->isActiveWindow(); }).act([this] {
            m_panel->xdo({"type", "gate-7"});
            m_panel->xdo({"key", "Return"});
        }).start();
        frmClientTrayIcon::Instance()->Form_MouseMove(frmClientTrayIcon::WM_LBUTTONDBLCLK);
        QPointer<frmClient> configuration = Forms::Client();
        QVERIFY(configuration && child(configuration, "fraConfig")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(configuration->isActiveWindow(), kWait);
        click(child(configuration, "cmdSave"));
        QTRY_VERIFY_WITH_TIMEOUT(!configuration && Forms::Client() && Forms::Client()->isVisible(), kWait);
        // The window in operator mode opens the side link again; the session is still connected.
        QTRY_VERIFY_WITH_TIMEOUT(m_link->peers.size() == 2 && m_link->peer(), kWait);
        QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:3###@"));
        QCOMPARE(Forms::MsRdpClient(), window);
        QVERIFY(window->isVisible() && sessionControl()->isVisible());

        // Brought to the front, as the window manager does on the operator's request: the picture is there.
        m_panel->xdo({"windowactivate", "--sync", QString::number(window->winId())});
        QTRY_VERIFY_WITH_TIMEOUT(pictureRight(), kWait);
        m_server->paint(1);
        QTRY_VERIFY_WITH_TIMEOUT(pictureRight(), kWait);
        m_server->paint(0);
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->inputFocus(), window->winId(), kWait);
        m_panel->xdo({"key", "alt+F4"});
        QTRY_COMPARE_WITH_TIMEOUT(serverConnections(m_rdp->address()), 0, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
        QVERIFY(Forms::Client()->isVisible() && !window->isVisible());
        QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:0###@"));
    }
    // A connect order while a message box of the main window is open: the box goes, and the
    // session takes keys and clicks at once.
    void orderOverMessageBox_data()
    {
        QTest::addColumn<bool>("managed");
        QTest::newRow("bare X") << false;
        QTest::newRow("openbox and tray") << true;
    }
    void orderOverMessageBox()
    {
        QFETCH(bool, managed);
        QVERIFY(m_panelDisplay && m_panelDisplay->setManaged(managed));
        frmClient &form = startLinkedPanel(m_address, {"txtUserName="});
        // The server tells it is free before it sends any profile; the operator presses at once.
        QTRY_VERIFY_WITH_TIMEOUT(m_link->peer(), kWait);
        m_link->send("@#cmd:8##Argument:0###@");
        QTRY_COMPARE_WITH_TIMEOUT(m_link->received, QByteArray("@#cmd:9##Argument:0###@"), kWait);
        m_link->received.clear();
        QWidget *button = child(&form, "cmdRemoteDesktop");
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled() && (form.isActiveWindow() || !managed), kWait);
        // The box waits for its OK: the server's order comes meanwhile. A box still there long after
        // is closed as the operator would, and counts as a failure.
        QString boxText;
        bool boxStayed = false;
        QElapsedTimer ordered;
        DialogScript script;
        script.then([&] { const QMessageBox *box = shownBox(); return box && !(boxText = box->text()).isEmpty(); })
            .act([&] { orderSession(UserName, Password), ordered.start(); })
            .then([&] { return !shownBox() || ordered.hasExpired(kWait); })
            .act([&] {
                if (QMessageBox *box = shownBox())
                    boxStayed = true, box->accept();
            })
            .start();
        click(button);
        QTRY_VERIFY_WITH_TIMEOUT(script.finished() && gRdpConnected, 2 * kWait);
        QCOMPARE(boxText, QStringLiteral("Please enter a UserName"));
        QVERIFY(!boxStayed);
        frmMsRdpClient *window = Forms::MsRdpClient();
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->inputFocus(), window->winId(), kWait);
        inputReachesServer(sessionControl(), QPoint(300, 200));
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
        QVERIFY(form.isVisible());
    }
    // Real logons ordered over the side link: a wrong one shows xrdp's window on black (nothing of
    // the panel's memory); the right one gets picture, keys and media, and logging off ends it.
    void xrdp()
    {
        if (const QString why = TestSupport::TmpfsMount::refusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(m_panelDisplay && m_panelDisplay->setManaged(false));
        const QString address = freeServerAddress();
        Xrdp xrdp;
        QVERIFY2(xrdp.start(address), qPrintable(xrdp.log()));
        QTemporaryDir media(QStringLiteral("/media/veskora-e2e-XXXXXX"));
        TestSupport::TmpfsMount first(media.filePath(QStringLiteral("FIRST")));
        QVERIFY2(first.mounted(), qPrintable(first.error()));
        TestSupport::writeBytes(media.filePath(QStringLiteral("FIRST/note.txt")), "from the panel");
        frmClient &form = startLinkedPanel(address, {"txtUserName=op", "cboResolution=2", "chkRedirectDrives=1"});
        orderSession(xrdp.user(), QStringLiteral("not-the-password"));
        QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
        const QRect shown(sessionControl()->mapToGlobal(QPoint(0, 0)), QSize(800, 600));
        QTRY_VERIFY_WITH_TIMEOUT(count(m_panel->grab(shown), 0xFF009CB5), kWait); // its window's title bar
        QCOMPARE(count(m_panel->grab(QRect(shown.topLeft(), QSize(shown.width(), 3))), 0xFF000000), 3 * shown.width());
        QVERIFY(xrdp.sessionDisplay().isEmpty());
        Forms::MsRdpClient()->close();
        QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
        QVERIFY(form.isVisible());
        orderSession(xrdp.user(), xrdp.password());
        QTRY_VERIFY_WITH_TIMEOUT(gRdpConnected, kWait);
        std::unique_ptr<Probe> remote;
        QTRY_VERIFY_WITH_TIMEOUT(!xrdp.sessionDisplay().isEmpty() && (remote = std::make_unique<Probe>(xrdp.sessionDisplay()))->isOpen(),
                                 kWait);
        const auto there = [&] { return remote->grab(QRect(QPoint(0, 0), shown.size())); };
        QTRY_VERIFY_WITH_TIMEOUT(!count(there(), 0xFF208040) && m_panel->grab(shown) == there(), kWait); // xterm over the green
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->inputFocus(), Forms::MsRdpClient()->winId(), kWait);
        m_panel->xdo({"type", "touch typed"});
        m_panel->xdo({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(xrdp.home() + QStringLiteral("/typed")), kWait);
        const QString drives = xrdp.home() + QStringLiteral("/thinclient_drives");
        const auto listed = [&] { return xrdp.runInSession({"ls", drives}).split(u'\n').filter(QRegularExpression(QStringLiteral("^(FIRST|SECOND)$"))).join(u' '); };
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringLiteral("FIRST"), kWait);
        QCOMPARE(xrdp.runInSession({"cat", drives + QStringLiteral("/FIRST/note.txt")}), QStringLiteral("from the panel"));
        TestSupport::TmpfsMount second(media.filePath(QStringLiteral("SECOND")));
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringLiteral("FIRST SECOND"), kWait);
        QVERIFY(second.unmount());
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringLiteral("FIRST"), kWait);
        QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:3###@"));
        m_panel->xdo({"type", "exit"});
        m_panel->xdo({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(!gRdpStarted, kWait);
        QVERIFY(form.isVisible());
        QCOMPARE(signOfLife(), QByteArray("@#cmd:3##Argument:0###@"));
        // What happened is there to read; no password is.
        for (const char *line : {"veskora.sidelink received command 6, argument 1", "veskora.session connected to",
                                 "veskora.session channel rdpsnd opened by the server", "veskora.session session ended"})
            QVERIFY2(!g_log.filter(QLatin1String(line)).isEmpty(), line);
        QVERIFY(g_log.filter(QStringLiteral("not-the-password")).isEmpty());
        QVERIFY(g_log.filter(xrdp.password()).isEmpty());
    }
};

int main(int argc, char *argv[])
{
    privateFileSystem();
    // On an X server, which the tests give a window manager or none; with VESKORA_E2E_WAYLAND set
    // under that Wayland compositor (sway, cage or cage-headless).
    std::unique_ptr<RdpTestEnvironment::Display> display;
    std::unique_ptr<Compositor> compositor;
    const QString compositorName = qEnvironmentVariable("VESKORA_E2E_WAYLAND");
    if (!compositorName.isEmpty()) {
        compositor = std::make_unique<Compositor>(compositorName, compositorName == QLatin1String("cage") ? QSize(1024, 768) : QSize(1280, 1024));
        qputenv("QT_QPA_PLATFORM", "wayland");
        qputenv("WAYLAND_DISPLAY", compositor->socket().toUtf8());
    } else {
        display = std::make_unique<RdpTestEnvironment::Display>(1280, 1024);
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", display->name().toLatin1());
    }
    TestSupport::withoutSessionBus(); // only the X notification area, no other
    QApplication app(argc, argv);
    tst_e2e_panel test(display.get(), compositor.get());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_panel.moc"
