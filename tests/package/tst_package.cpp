// The Debian package as an administrator uses it: built, checked by lintian, installed, saved in as
// a group member and as root, its kiosk session started, then purged, leaving nothing. Needs root.
#include "RdpTestEnvironment.h"
#include "Version.h"
#include "../support/Panel.h"
#include <QApplication>
#include <QDir>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace RdpTestEnvironment;

namespace {

const QString kProgramDir = QStringLiteral("/usr/lib/veskora"), kConfigDir = QStringLiteral("/etc/veskora"),
              kClientCfg = kConfigDir + QStringLiteral("/Client.cfg"), kAutostart = QStringLiteral("/etc/xdg/autostart/ClientStart.desktop"),
              kSessionEntry = QStringLiteral("/usr/share/xsessions/veskora-kiosk.desktop"),
              kWaylandSessionEntry = QStringLiteral("/usr/share/wayland-sessions/veskora-kiosk-wayland.desktop");
// The installed program as an account of the panel's: nobody, in the group veskora.
const QStringList kAsMember{"setpriv", "--reuid=nobody", "--regid=nogroup", "--groups=veskora", "--inh-caps=-all"};

// A PATH of the few commands the kiosk session cannot do without, as on a minimal install: none
// of the recommended packages' (onboard, dbus-daemon, x11-utils, x11-xserver-utils, xdotool).
QString minimalCommands(const QTemporaryDir &dir)
{
    for (const char *command : {"setpriv", "mktemp", "mkdir", "rm", "cat"})
        QFile::link(QStringLiteral("/usr/bin/") + QLatin1String(command), dir.filePath(QLatin1String(command)));
    return ::chmod(QFile::encodeName(dir.path()).constData(), 0755), dir.path();
}

// "install ok installed" and the like, empty when dpkg does not know the package.
QString packageStatus() { return outputOf({"dpkg-query", "-W", "-f=${Status}", "veskora"}); }
QString ownership(const QString &path) { return outputOf({"stat", "-L", "-c", "%a %u %G", path}); }
bool pathExists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }
// The running processes of nobody (an ended one may wait for a parent that never collects it).
QSet<QString> processesOfNobody(const QStringList &name = {})
{
    const QStringList pids = outputOf(QStringList{"pgrep", "-u", "nobody", "-r", "R,S,D,T,I"} + name).split(u'\n', Qt::SkipEmptyParts);
    return {pids.cbegin(), pids.cend()};
}

// The command of a session entry.
QString sessionCommand(const QString &entry)
{
    const QStringList exec = readFile(entry).split(u'\n').filter(QRegularExpression(QStringLiteral("^Exec=")));
    return exec.size() == 1 ? exec.first().mid(5).trimmed() : QString();
}

// The installed program on an X server, in a home of its own, stopped with the object.
struct Installed
{
    Installed(const QString &display, const QStringList &command, const QStringList &environment = {})
    {
        QVERIFY(home.isValid() && ::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);
        launch(process, QStringList{"env", "-u", "XDG_CONFIG_HOME", "-u", "XDG_RUNTIME_DIR", "-u", "WAYLAND_DISPLAY",
                                    "HOME=" + home.path(), "DISPLAY=" + display} + environment + command);
        QVERIFY(process.waitForStarted(10000));
    }
    ~Installed()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
    QTemporaryDir home;
    QProcess process;
};

} // namespace

class tst_package : public QObject
{
    Q_OBJECT

public:
    explicit tst_package(const RdpTestEnvironment::Display &display) : m_display(display) {}

private:
    const RdpTestEnvironment::Display &m_display;
    QTemporaryDir m_work;
    QString m_deb;
    int m_lock = -1;
    bool m_installedHere = false;
    // The package's own paths (dpkg's list), what its scripts make, and what its program wrote.
    QStringList m_paths{kConfigDir, kProgramDir + QStringLiteral("/Client.cfg"), kProgramDir + QStringLiteral("/User.cfg"), kAutostart};

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("installs and purges a Debian package on this machine: needs root (CI runs as root)");
        QVERIFY2(m_display.isRunning(), "Xvfb did not start");
        // One run at a time on a machine: another one would purge the package under this one.
        m_lock = ::open("/tmp/veskora-package-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(m_lock >= 0 && ::flock(m_lock, LOCK_EX) == 0);
        // A panel's own installation is not the test's to replace, but a CI machine's leftovers are.
        if (qEnvironmentVariableIsSet("CI") && !packageStatus().isEmpty())
            run({"apt-get", "purge", "-y", "veskora"});
        if (!packageStatus().isEmpty() || ::getgrnam("veskora") || pathExists(kConfigDir) || pathExists(kAutostart))
            QSKIP("this machine has veskora installed or left over (purge it first: apt-get purge veskora)");
        m_deb = m_work.filePath(QStringLiteral("veskora_%1_amd64.deb").arg(QLatin1String(Version::Text)));
        QString out;
        QVERIFY2(run({"cpack", "-G", "DEB", "--config", VESKORA_CPACK_CONFIG, "-B", m_work.path()}, &out) && QFile::exists(m_deb),
                 qPrintable(out));
        QVERIFY2(run({"lintian", "--fail-on", "error", m_deb}, &out), qPrintable(out));
        m_installedHere = true;
        QVERIFY2(run({"apt-get", "install", "-y", "--no-install-recommends", "-o", "DPkg::Lock::Timeout=300", m_deb}, &out), qPrintable(out));
        RecordingSessionControl::install();
        frmClient::TimerIntervalMs = 3600 * 1000;
    }
    void cleanupTestCase()
    {
        // A failed case must not leave the package on the machine.
        if (m_installedHere && !packageStatus().isEmpty())
            run({"apt-get", "purge", "-y", "veskora"});
        if (m_lock >= 0)
            ::close(m_lock);
    }
    // The program directory links to settings that only root and the group read and write, in
    // the group's directory; the desktop files are valid.
    void installed()
    {
        QCOMPARE(ownership(kConfigDir) + u'|' + ownership(kClientCfg), QStringLiteral("2775 0 veskora|660 0 veskora"));
        QVERIFY2(!run({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "cat", kClientCfg}), "another account reads Client.cfg");
        QString out = outputOf({"dpkg-query", "-W", "-f=${Status} ${Depends}", "veskora"});
        QVERIFY2(out.startsWith(QLatin1String("install ok installed")) && out.contains(QLatin1String("libfreerdp2-2")), qPrintable(out));
        QVERIFY(run({"dpkg", "-L", "veskora"}, &out));
        m_paths += out.split(u'\n').filter(QStringLiteral("veskora"), Qt::CaseInsensitive);
        QVERIFY(m_paths.contains(kProgramDir + QStringLiteral("/libveskora-session.so")));
        for (const QString name : {"Client.cfg", "User.cfg"})
            QCOMPARE(QFileInfo(kProgramDir + u'/' + name).symLinkTarget(), kConfigDir + u'/' + name);
        QVERIFY2(run({"appstreamcli", "validate", "--no-net", "/usr/share/metainfo/com.torvane.Veskora.metainfo.xml"}, &out), qPrintable(out));
        QVERIFY2(run({"desktop-file-validate", "/usr/share/applications/com.torvane.Veskora.desktop", kSessionEntry, kWaylandSessionEntry}, &out)
                     && out.isEmpty(), qPrintable(out));
    }
    void save_data()
    {
        QTest::addColumn<bool>("groupMember"); // else root
        QTest::addColumn<bool>("connectToServer");
        QTest::addColumn<QString>("ownership"); // afterwards
        QTest::newRow("group member") << true << false << "660 65534 veskora";
        QTest::newRow("root, Connect to Server") << false << true << "660 0 veskora";
    }
    // "Save" reaches /etc/veskora through the link for the group as for root, replacing the file
    // by a new one in its group and mode (the member becomes its owner); with "Connect to Server"
    // the autostart entry names the installed program.
    void save()
    {
        QFETCH(bool, groupMember);
        QFETCH(bool, connectToServer);
        // Where the controls stand: the installed program lays out its window as this build's does.
        QPoint save, connect;
        {
            TestSupport::ProgramDir dir;
            frmClient &form = TestSupport::LoadPanel(dir, {"txtServer=before", "AutoConnect=0"});
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            const QWidget *button = TestSupport::child(&form, "cmdSave"), *box = TestSupport::child(&form, "chkAutoConnect");
            save = button->mapToGlobal(button->rect().center());
            connect = box->mapToGlobal(QPoint(box->height() / 2, box->height() / 2)); // its box, at the left end
            TestSupport::UnloadForms();
        }
        TestSupport::writeBytes(kClientCfg, "[Client]\r\ntxtServer=before\r\nAutoConnect=0\r\nSecurityPassword=kept\r\n");
        QVERIFY(run({"chown", "root:veskora", kClientCfg}));
        const QString inode = outputOf({"stat", "-c", "%i", kClientCfg});
        Installed panel(m_display.name(), (groupMember ? kAsMember : QStringList()) + QStringList{"/usr/bin/veskora"});
        Probe probe(m_display.name());
        QRect geometry;
        QTRY_VERIFY_WITH_TIMEOUT(probe.topLevel("Veskora", &geometry) && geometry.width() > 1, kWait);
        if (connectToServer)
            probe.click(connect);
        probe.click(save);
        // "Save" replaces the file whole, then writes the autostart entry.
        QTRY_VERIFY_WITH_TIMEOUT(outputOf({"stat", "-c", "%i", kClientCfg}) != inode, kWait);
        const QString saved = readFile(kClientCfg);
        QVERIFY2(saved.contains(QLatin1String("SecurityPassword=kept")) && saved.contains(QStringLiteral("AutoConnect=%1").arg(int(connectToServer))),
                 qPrintable(saved));
        if (connectToServer)
            QTRY_COMPARE_WITH_TIMEOUT(readFile(kAutostart).split(u'\n').filter(QStringLiteral("Exec=")),
                                      (QStringList{"TryExec=/usr/lib/veskora/Veskora", "Exec=/usr/lib/veskora/Veskora"}), kWait);
        else
            QVERIFY(!pathExists(kAutostart));
        // Still the file behind the link, the group's to write, and nothing beside it.
        QTRY_COMPARE_WITH_TIMEOUT(QDir(kConfigDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                                  (QStringList{"Client.cfg", "User.cfg"}), kWait);
        QTEST(ownership(kClientCfg), "ownership");
    }
    void kioskSession_data()
    {
        QTest::addColumn<bool>("minimal"); // else every command of this machine at hand
        QTest::newRow("all installed") << false;
        QTest::newRow("a minimal install: no recommended tools") << true;
    }
    // The X session entry on a bare X server: the panel covers the screen and has the keyboard, and
    // the screen saver is off; when the program ends, so does the session with all it started.
    void kioskSession()
    {
        QFETCH(bool, minimal);
        const QString exec = sessionCommand(kSessionEntry);
        QVERIFY(!exec.isEmpty());
        TestSupport::writeBytes(kClientCfg, "[Client]\r\ntxtServer=kiosk\r\n");
        RdpTestEnvironment::Display bare(1024, 768);
        Probe probe(bare.name());
        QVERIFY(probe.isOpen());
        const QSet<QString> before = processesOfNobody();
        QTemporaryDir commands;
        Installed session(bare.name(), kAsMember + QStringList{exec},
                          minimal ? QStringList{"PATH=" + minimalCommands(commands)} : QStringList());
        QRect geometry;
        unsigned long window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = probe.topLevel("Veskora", &geometry)) && geometry == QRect(0, 0, 1024, 768), kWait);
        // The panel's window has the X input focus, not the pointer's window.
        QTRY_COMPARE_WITH_TIMEOUT(probe.inputFocus(), window, kWait);
        const QString saver = outputOf({"xset", "-display", bare.name(), "q"});
        QVERIFY2(saver.contains(QLatin1String("prefer blanking:  no")) && saver.contains(QLatin1String("timeout:  0")), qPrintable(saver));
        QCOMPARE(session.process.state(), QProcess::Running);
        for (const QString &pid : processesOfNobody({"-x", "Veskora"}) - before)
            QCOMPARE(::kill(pid.toInt(), SIGTERM), 0);
        QTRY_COMPARE_WITH_TIMEOUT(session.process.state(), QProcess::NotRunning, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!probe.topLevel({}), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(processesOfNobody() - before, QSet<QString>(), kWait);
    }
    void upgrade_data()
    {
        QTest::addColumn<QString>("before"); // what an administrator (or the earlier package) did
        QTest::addColumn<QString>("after");  // the directory's and Client.cfg's mode, owner and group
        QTest::newRow("the earlier package's layout") << "chown root:root /etc/veskora; chmod 00755 /etc/veskora; chmod 664 /etc/veskora/Client.cfg"
                                                      << "2775 0 veskora|660 0 veskora";
        QTest::newRow("the administrator's modes") << "chmod 2770 /etc/veskora; chmod 640 /etc/veskora/Client.cfg" << "2770 0 veskora|640 0 veskora";
        QTest::newRow("an override, kept as it is") << "dpkg-statoverride --add root veskora 0600 /etc/veskora/Client.cfg" << "2775 0 veskora|660 0 veskora";
        QTest::newRow("made anew as the override says") << "rm /etc/veskora/Client.cfg; dpkg-statoverride --add root veskora 0640 /etc/veskora/Client.cfg"
                                                        << "2775 0 veskora|640 0 veskora";
    }
    // Installing the package again sets owners and modes only where it makes the file (as an override says), and brings the
    // earlier package's layout over; the settings stay.
    void upgrade()
    {
        QFETCH(QString, before);
        TestSupport::writeBytes(kClientCfg, "[Client]\r\ntxtServer=kept\r\n");
        const auto removeOverride = qScopeGuard([] { run({"dpkg-statoverride", "--remove", kClientCfg}); });
        QString out;
        const QString installed = "chown root:veskora /etc/veskora /etc/veskora/Client.cfg; chmod 2775 /etc/veskora; chmod 660 /etc/veskora/Client.cfg; ";
        QVERIFY2(run({"sh", "-ec", installed + before}, &out) && run({"dpkg", "-i", m_deb}, &out), qPrintable(out));
        QTEST(ownership(kConfigDir) + u'|' + ownership(kClientCfg), "after");
        QCOMPARE(readFile(kClientCfg), before.startsWith(QLatin1String("rm ")) ? QString() : QStringLiteral("[Client]\r\ntxtServer=kept\r\n"));
    }
    // Removing leaves the settings and an autostart entry that desktops skip (its program is
    // gone); purging takes away everything the package, its scripts and its program made, the
    // temporary file of a write cut off too.
    void purge()
    {
        TestSupport::writeBytes(kClientCfg + QStringLiteral(".tmp-Ab12Cd"), "[Client]\r\n");
        QString out;
        QVERIFY2(run({"apt-get", "remove", "-y", "-o", "DPkg::Lock::Timeout=300", "veskora"}, &out), qPrintable(out));
        QVERIFY(QFileInfo::exists(kClientCfg) && readFile(kAutostart).contains(QLatin1String("\nTryExec=/usr/lib/veskora/Veskora\n"))
                && !QFileInfo::exists(kProgramDir + QStringLiteral("/Veskora")));
        QVERIFY2(run({"apt-get", "purge", "-y", "-o", "DPkg::Lock::Timeout=300", "veskora"}, &out)
                     && !out.contains(QLatin1String("warning"), Qt::CaseInsensitive), qPrintable(out));
        QCOMPARE(packageStatus(), QString());
        QStringList left;
        std::copy_if(m_paths.cbegin(), m_paths.cend(), std::back_inserter(left), pathExists);
        QCOMPARE(left, QStringList());
        QVERIFY(!::getgrnam("veskora"));
    }
};

int main(int argc, char *argv[])
{
    RdpTestEnvironment::Display display(1280, 800); // without a window manager, as a kiosk runs it
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display.name().toLatin1());
    qputenv("DEBIAN_FRONTEND", "noninteractive");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    tst_package test(display);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_package.moc"
