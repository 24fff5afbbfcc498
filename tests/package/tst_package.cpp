// The Debian package as an administrator uses it: built from this tree by cpack, installed with
// apt-get, the installed program started from /usr/bin under Xvfb and saved, as a member of the
// group veskora and as root; the kiosk session started on a bare X server; then purged, which
// leaves nothing behind. Installs a package on this machine, so it needs root.
#include "RdpTestEnvironment.h"
#include "Version.h"

#include "client/Forms.h"
#include "client/frmClient.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace RdpTestEnvironment;

namespace {

const QString kProgramDir = QStringLiteral("/usr/lib/veskora");
const QString kConfigDir = QStringLiteral("/etc/veskora");
const QString kClientCfg = QStringLiteral("/etc/veskora/Client.cfg");
const QString kAutostartEntry = QStringLiteral("/etc/xdg/autostart/ClientStart.desktop");
const QString kSessionEntry = QStringLiteral("/usr/share/xsessions/veskora-kiosk.desktop");
struct Result
{
    bool ok = false;
    QString output;
};

Result run(const QString &program, const QStringList &arguments, const QString &directory = {}, int timeout = 300000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!directory.isEmpty())
        p.setWorkingDirectory(directory);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    const bool finished = p.waitForFinished(timeout);
    Result r{finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
             QString::fromLocal8Bit(p.readAll())};
    if (!finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    return r;
}

// "install ok installed" and the like, empty when dpkg does not know the package.
QString packageStatus()
{
    const Result r = run(QStringLiteral("dpkg-query"), {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), QStringLiteral("veskora")});
    return r.ok ? r.output.trimmed() : QString();
}

bool groupExists()
{
    return ::getgrnam("veskora") != nullptr;
}

bool pathExists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Which of the paths still exist, and the group.
QString leftBehind(const QStringList &paths)
{
    QStringList found;
    for (const QString &path : paths)
        if (pathExists(path))
            found << path;
    if (groupExists())
        found << QStringLiteral("group veskora");
    return found.join(QStringLiteral(", "));
}

// The processes of an account, by pid.
QSet<QString> processesOf(uid_t uid)
{
    QSet<QString> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &pid : pids) {
        struct stat st;
        if (::stat(QFile::encodeName(QStringLiteral("/proc/") + pid).constData(), &st) == 0 && st.st_uid == uid)
            found.insert(pid);
    }
    return found;
}

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The mapped top-level window of a program of class Veskora, the largest if there are more
// (0 while there is none).
Window panelWindow(::Display *display, QRect *geometry = nullptr)
{
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    int largest = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes a;
            XClassHint hint{nullptr, nullptr};
            if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable)
                continue;
            const bool panel = XGetClassHint(display, children[i], &hint) && qstrcmp(hint.res_class, "Veskora") == 0;
            if (hint.res_name)
                XFree(hint.res_name);
            if (hint.res_class)
                XFree(hint.res_class);
            if (panel && a.width * a.height > largest) {
                largest = a.width * a.height;
                found = children[i];
                if (geometry)
                    *geometry = QRect(a.x, a.y, a.width, a.height);
            }
        }
        XFree(children);
    }
    return found;
}

// The installed program's environment on the test's X server, as an account of the panel's.
QProcessEnvironment panelEnvironment(const QString &display, const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    return env;
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

class tst_package : public QObject
{
    Q_OBJECT

public:
    explicit tst_package(const RdpTestEnvironment::Display &display) : m_display(display) {}

private slots:
    void initTestCase();
    void cleanupTestCase();
    void installed();
    void save_data();
    void save();
    void kioskSession();
    void purge();

private:
    // Where the controls of a main window loaded from these settings stand on this screen: the
    // installed program lays out its window as this build's does.
    QPoint centreOf(const QStringList &settings, const char *control, bool indicator = false);

    const RdpTestEnvironment::Display &m_display;
    QTemporaryDir m_work;
    int m_lock = -1;
    bool m_installedHere = false;
    // The package's own paths (dpkg's list), what its scripts make, and what its program wrote.
    QStringList m_paths{kConfigDir, kProgramDir + QStringLiteral("/Client.cfg"), kProgramDir + QStringLiteral("/User.cfg"),
                        kAutostartEntry};
    ::Display *m_x = nullptr;
};

void tst_package::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("installs and purges a Debian package on this machine: needs root (CI runs as root)");
    QVERIFY2(m_display.isRunning(), "Xvfb did not start");
    QVERIFY(m_work.isValid());
    // One run at a time on a machine: another one would purge the package under this one.
    m_lock = ::open("/tmp/veskora-package-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(m_lock >= 0 && ::flock(m_lock, LOCK_EX) == 0);
    // A panel's own installation is not the test's to replace, but a CI machine's leftovers are.
    if (qEnvironmentVariableIsSet("CI") && !packageStatus().isEmpty())
        run(QStringLiteral("apt-get"), {QStringLiteral("purge"), QStringLiteral("-y"), QStringLiteral("veskora")});
    if (!packageStatus().isEmpty() || groupExists() || pathExists(kConfigDir))
        QSKIP("this machine has veskora installed or left over (purge it first: apt-get purge veskora)");
    if (pathExists(kAutostartEntry))
        QSKIP(qPrintable(kAutostartEntry + QStringLiteral(" exists: the test would replace it")));

    // The package of this build, named after the version of the build.
    const QString packages = m_work.filePath(QStringLiteral("packages"));
    const Result cpack = run(QStringLiteral("cpack"), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                                       QStringLiteral(VESKORA_CPACK_CONFIG), QStringLiteral("-B"), packages});
    QVERIFY2(cpack.ok, qPrintable(cpack.output));
    const QString deb = QStringLiteral("veskora_%1_amd64.deb").arg(QString::fromLatin1(Version::Text));
    QVERIFY2(QFile::exists(QDir(packages).filePath(deb)), qPrintable(cpack.output));
    const Result lintian = run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error"), QDir(packages).filePath(deb)});
    QVERIFY2(lintian.ok, qPrintable(lintian.output));

    m_installedHere = true;
    const Result install = run(QStringLiteral("apt-get"), {QStringLiteral("install"), QStringLiteral("-y"),
                                                           QStringLiteral("--no-install-recommends"),
                                                           QStringLiteral("-o"), QStringLiteral("DPkg::Lock::Timeout=300"),
                                                           QStringLiteral("./") + deb},
                               packages);
    QVERIFY2(install.ok, qPrintable(install.output));

    m_x = XOpenDisplay(m_display.name().toLatin1().constData());
    QVERIFY(m_x);
    RecordingSessionControl::install();
    frmClient::TimerIntervalMs = 3600 * 1000;
}

void tst_package::cleanupTestCase()
{
    if (m_x)
        XCloseDisplay(m_x);
    // A failed case must not leave the package on the machine.
    if (m_installedHere && !packageStatus().isEmpty())
        run(QStringLiteral("apt-get"), {QStringLiteral("purge"), QStringLiteral("-y"), QStringLiteral("veskora")});
    if (m_lock >= 0)
        ::close(m_lock);
}

// The program directory holds the programs and links to the settings, which the group may write.
void tst_package::installed()
{
    QCOMPARE(packageStatus(), QStringLiteral("install ok installed"));
    const Result list = run(QStringLiteral("dpkg"), {QStringLiteral("-L"), QStringLiteral("veskora")});
    QVERIFY(list.ok);
    m_paths += list.output.split(u'\n').filter(QStringLiteral("veskora"), Qt::CaseInsensitive);
    QVERIFY(m_paths.contains(QStringLiteral("/usr/bin/veskora")));
    // The session module beside the program, and the remote desktop library it needs.
    QVERIFY(m_paths.contains(kProgramDir + QStringLiteral("/libveskora-session.so")));
    const Result depends = run(QStringLiteral("dpkg-query"), {QStringLiteral("-W"), QStringLiteral("-f=${Depends}"), QStringLiteral("veskora")});
    QVERIFY2(depends.ok && depends.output.contains(QLatin1String("libfreerdp2-2")), qPrintable(depends.output));
    for (const QString &name : {QStringLiteral("Client.cfg"), QStringLiteral("User.cfg")}) {
        const QFileInfo link(kProgramDir + u'/' + name);
        QVERIFY2(link.isSymLink(), qPrintable(link.filePath()));
        QCOMPARE(link.symLinkTarget(), kConfigDir + u'/' + name);
        QVERIFY(link.exists());
    }
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(kClientCfg).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0664));
    QCOMPARE(st.st_uid, uid_t(0));
    QVERIFY(groupExists());
    QCOMPARE(st.st_gid, ::getgrnam("veskora")->gr_gid);
    QCOMPARE(QFileInfo(QStringLiteral("/usr/bin/veskora")).canonicalFilePath(), kProgramDir + QStringLiteral("/Veskora"));

    // What the desktop reads of it is valid.
    const Result metainfo = run(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                                                 QStringLiteral("/usr/share/metainfo/com.torvane.Veskora.metainfo.xml")});
    QVERIFY2(metainfo.ok, qPrintable(metainfo.output));
    const Result entries = run(QStringLiteral("desktop-file-validate"),
                               {QStringLiteral("/usr/share/applications/com.torvane.Veskora.desktop"), kSessionEntry});
    QVERIFY2(entries.ok && entries.output.isEmpty(), qPrintable(entries.output));
}

QPoint tst_package::centreOf(const QStringList &settings, const char *control, bool indicator)
{
    TestSupport::ProgramDir dir;
    frmClient &form = TestSupport::LoadPanel(dir, settings);
    // The pages of the tab control are laid out once the window is on the screen.
    if (!QTest::qWaitForWindowExposed(&form))
        return {};
    const QWidget *w = form.findChild<QWidget *>(QLatin1String(control));
    // A check box toggles from its box, at its left end.
    const QPoint at = !w ? QPoint() : w->mapToGlobal(indicator ? QPoint(w->height() / 2, w->height() / 2) : w->rect().center());
    TestSupport::UnloadForms();
    return at;
}

void tst_package::save_data()
{
    QTest::addColumn<bool>("groupMember"); // else root
    QTest::addColumn<bool>("connectToServer");
    QTest::newRow("group member") << true << false;
    QTest::newRow("root, Connect to Server") << false << true;
}

// "Save" in the installed program reaches /etc/veskora through the link, for the group as
// for root, and keeps the file's owner, group and mode; with "Connect to Server" checked the
// autostart entry names the installed program.
void tst_package::save()
{
    QFETCH(bool, groupMember);
    QFETCH(bool, connectToServer);
    const QStringList settings{QStringLiteral("txtServer=before"), QStringLiteral("AutoConnect=0")};
    const QPoint save = centreOf(settings, "cmdSave");
    const QPoint connect = centreOf(settings, "chkAutoConnect", true);
    QVERIFY(!save.isNull() && !connect.isNull());
    {
        QFile cfg(kClientCfg);
        QVERIFY(cfg.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cfg.write("[Client]\r\ntxtServer=before\r\nAutoConnect=0\r\nSecurityPassword=kept\r\n");
    }

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcess panel;
    panel.setProcessChannelMode(QProcess::MergedChannels);
    panel.setProcessEnvironment(panelEnvironment(m_display.name(), home.path()));
    if (groupMember) {
        QVERIFY(::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);
        panel.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                                QStringLiteral("--groups=veskora"), QStringLiteral("--inh-caps=-all"),
                                                QStringLiteral("/usr/bin/veskora")});
    } else {
        panel.start(QStringLiteral("/usr/bin/veskora"), {});
    }
    QVERIFY(panel.waitForStarted(10000));
    QRect geometry;
    QTRY_VERIFY_WITH_TIMEOUT(panelWindow(m_x, &geometry) && geometry.width() > 1, kWait);

    Probe probe(m_display.name());
    if (connectToServer)
        probe.click(connect);
    probe.click(save);
    // "Save" writes key after key, the last one "StartLifeCnt", then the autostart entry.
    QTRY_VERIFY_WITH_TIMEOUT(readFile(kClientCfg).contains(QStringLiteral("StartLifeCnt=")), kWait);
    const QString saved = readFile(kClientCfg);
    QVERIFY2(saved.contains(QStringLiteral("SecurityPassword=kept")), qPrintable(saved));
    QVERIFY2(saved.contains(connectToServer ? QStringLiteral("AutoConnect=1") : QStringLiteral("AutoConnect=0")), qPrintable(saved));
    if (connectToServer)
        QTRY_COMPARE_WITH_TIMEOUT(readFile(kAutostartEntry).split(u'\n').filter(QStringLiteral("Exec=")),
                                  QStringList{QStringLiteral("Exec=/usr/lib/veskora/Veskora")}, kWait);
    else
        QVERIFY(!pathExists(kAutostartEntry));
    // Still the file behind the link, the group's to write, and nothing beside it.
    QTRY_COMPARE_WITH_TIMEOUT(QDir(kConfigDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                              (QStringList{QStringLiteral("Client.cfg"), QStringLiteral("User.cfg")}), kWait);
    stop(panel);
    QVERIFY(QFileInfo(kProgramDir + QStringLiteral("/Client.cfg")).isSymLink());
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(kClientCfg).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0664));
    QCOMPARE(st.st_gid, ::getgrnam("veskora")->gr_gid);
}

// The session of the X session entry on a bare X server: the panel covers the screen and has
// the keyboard; when the program ends, the session ends, and everything it started with it.
void tst_package::kioskSession()
{
    const QStringList exec = readFile(kSessionEntry).split(u'\n').filter(QRegularExpression(QStringLiteral("^Exec=")));
    QCOMPARE(exec.size(), 1);
    const QString command = exec.first().mid(5).trimmed();
    QVERIFY2(QFileInfo(command).isExecutable(), qPrintable(command));
    {
        QFile cfg(kClientCfg);
        QVERIFY(cfg.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cfg.write("[Client]\r\ntxtServer=kiosk\r\n");
    }

    RdpTestEnvironment::Display bare(1024, 768);
    QVERIFY2(bare.isRunning(), "Xvfb did not start");
    ::Display *x = XOpenDisplay(bare.name().toLatin1().constData());
    QVERIFY(x);
    const auto closeX = qScopeGuard([x] { XCloseDisplay(x); });
    QTemporaryDir home;
    QVERIFY(home.isValid() && ::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);
    const QSet<QString> before = processesOf(65534);
    QProcess session;
    session.setProcessChannelMode(QProcess::MergedChannels);
    session.setProcessEnvironment(panelEnvironment(bare.name(), home.path()));
    session.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                              QStringLiteral("--groups=veskora"), QStringLiteral("--inh-caps=-all"), command});
    QVERIFY(session.waitForStarted(10000));
    const auto stopSession = qScopeGuard([&session] { stop(session); });

    QRect geometry;
    Window window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = panelWindow(x, &geometry)) && geometry == QRect(0, 0, 1024, 768), kWait);
    // The keyboard: the panel's window has the X input focus, not the pointer's window.
    const auto focus = [x] {
        Window w = 0;
        int revert = 0;
        XGetInputFocus(x, &w, &revert);
        return w;
    };
    QTRY_COMPARE_WITH_TIMEOUT(focus(), window, kWait);
    QVERIFY(session.state() == QProcess::Running);

    // The program ends: the session ends with it.
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    QVERIFY(XGetWindowProperty(x, window, XInternAtom(x, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success && data && count == 1);
    const pid_t pid = pid_t(*reinterpret_cast<unsigned long *>(data));
    XFree(data);
    QVERIFY(::kill(pid, SIGTERM) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(session.state() == QProcess::NotRunning, kWait);
    // Nothing of the session stays on the display.
    const auto anyMapped = [x] {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        bool mapped = false;
        if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &n)) {
            for (unsigned i = 0; i < n; ++i) {
                XWindowAttributes a;
                mapped = mapped || (XGetWindowAttributes(x, children[i], &a) && a.map_state == IsViewable);
            }
            XFree(children);
        }
        return mapped;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!anyMapped(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(processesOf(65534).subtract(before).isEmpty(), kWait);
}

// Purging takes away everything the package and its scripts made, and the autostart entry of
// its program.
void tst_package::purge()
{
    const Result purged = run(QStringLiteral("apt-get"), {QStringLiteral("purge"), QStringLiteral("-y"),
                                                          QStringLiteral("-o"), QStringLiteral("DPkg::Lock::Timeout=300"),
                                                          QStringLiteral("veskora")});
    QVERIFY2(purged.ok, qPrintable(purged.output));
    QVERIFY2(!purged.output.contains(QStringLiteral("warning"), Qt::CaseInsensitive), qPrintable(purged.output));
    QCOMPARE(packageStatus(), QString());
    QCOMPARE(leftBehind(m_paths), QString());
}

int main(int argc, char *argv[])
{
    // The panel's X server, without a window manager, as a kiosk runs it.
    RdpTestEnvironment::Display display(1280, 800);
    if (display.isRunning()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", display.name().toLatin1());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    QApplication app(argc, argv);
    tst_package test(display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_package.moc"
