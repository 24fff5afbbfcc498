// The Debian package as an administrator uses it: built, checked by lintian, installed, saved in as
// a group member and as root, its kiosk session started, then purged, leaving nothing. Needs root.
#include "RdpTestEnvironment.h"
#include "Version.h"
#include "../support/Panel.h"
#include <QApplication>
#include <QDir>
#include <QSet>
#include <QTest>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

using namespace RdpTestEnvironment;

namespace {

const QString kProgramDir = QStringLiteral("/usr/lib/veskora"), kConfigDir = QStringLiteral("/etc/veskora"),
              kClientCfg = kConfigDir + QStringLiteral("/Client.cfg"), kAutostart = QStringLiteral("/etc/xdg/autostart/ClientStart.desktop"),
              kSessionEntry = QStringLiteral("/usr/share/xsessions/veskora-kiosk.desktop");
// The installed program as an account of the panel's: nobody, in the group veskora.
const QStringList kAsMember{"setpriv", "--reuid=nobody", "--regid=nogroup", "--groups=veskora", "--inh-caps=-all"};

// A command's output, empty when it fails.
QString outputOf(const QStringList &command)
{
    QString out;
    return run(command, &out) ? out.trimmed() : QString();
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

// The installed program on an X server, in a home of its own, stopped with the object.
struct Installed
{
    Installed(const QString &display, const QStringList &command)
    {
        QVERIFY(home.isValid() && ::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);
        process.setProgram(QStringLiteral("env"));
        process.setArguments(QStringList{"-u", "XDG_CONFIG_HOME", "-u", "XDG_RUNTIME_DIR", "DISPLAY=" + display, "HOME=" + home.path()}
                             + command);
        process.start();
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
        const QString deb = m_work.filePath(QStringLiteral("veskora_%1_amd64.deb").arg(QLatin1String(Version::Text)));
        QString out;
        QVERIFY2(run({"cpack", "-G", "DEB", "--config", VESKORA_CPACK_CONFIG, "-B", m_work.path()}, &out) && QFile::exists(deb),
                 qPrintable(out));
        QVERIFY2(run({"lintian", "--fail-on", "error", deb}, &out), qPrintable(out));
        m_installedHere = true;
        QVERIFY2(run({"apt-get", "install", "-y", "--no-install-recommends", "-o", "DPkg::Lock::Timeout=300", deb}, &out), qPrintable(out));
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
    // The program directory links to settings the group may write; the desktop files are valid.
    void installed()
    {
        QString out = outputOf({"dpkg-query", "-W", "-f=${Status} ${Depends}", "veskora"});
        QVERIFY2(out.startsWith(QLatin1String("install ok installed")) && out.contains(QLatin1String("libfreerdp2-2")), qPrintable(out));
        QVERIFY(run({"dpkg", "-L", "veskora"}, &out));
        m_paths += out.split(u'\n').filter(QStringLiteral("veskora"), Qt::CaseInsensitive);
        QVERIFY(m_paths.contains(kProgramDir + QStringLiteral("/libveskora-session.so")));
        QCOMPARE(QFileInfo(QStringLiteral("/usr/bin/veskora")).canonicalFilePath(), kProgramDir + QStringLiteral("/Veskora"));
        for (const QString name : {"Client.cfg", "User.cfg"})
            QCOMPARE(QFileInfo(kProgramDir + u'/' + name).symLinkTarget(), kConfigDir + u'/' + name);
        QVERIFY2(run({"appstreamcli", "validate", "--no-net", "/usr/share/metainfo/com.torvane.Veskora.metainfo.xml"}, &out), qPrintable(out));
        QVERIFY2(run({"desktop-file-validate", "/usr/share/applications/com.torvane.Veskora.desktop", kSessionEntry}, &out)
                     && out.isEmpty(), qPrintable(out));
    }
    void save_data()
    {
        QTest::addColumn<bool>("groupMember"); // else root
        QTest::addColumn<bool>("connectToServer");
        QTest::newRow("group member") << true << false;
        QTest::newRow("root, Connect to Server") << false << true;
    }
    // "Save" reaches /etc/veskora through the link for the group as for root, keeping owner, group
    // and mode; with "Connect to Server" the autostart entry names the installed program.
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
        Installed panel(m_display.name(), (groupMember ? kAsMember : QStringList()) + QStringList{"/usr/bin/veskora"});
        Probe probe(m_display.name());
        QRect geometry;
        QTRY_VERIFY_WITH_TIMEOUT(probe.topLevel("Veskora", &geometry) && geometry.width() > 1, kWait);
        if (connectToServer)
            probe.click(connect);
        probe.click(save);
        // "Save" writes key after key, the last one "StartLifeCnt", then the autostart entry.
        QTRY_VERIFY_WITH_TIMEOUT(readFile(kClientCfg).contains(QLatin1String("StartLifeCnt=")), kWait);
        const QString saved = readFile(kClientCfg);
        QVERIFY2(saved.contains(QLatin1String("SecurityPassword=kept")) && saved.contains(QStringLiteral("AutoConnect=%1").arg(int(connectToServer))),
                 qPrintable(saved));
        if (connectToServer)
            QTRY_COMPARE_WITH_TIMEOUT(readFile(kAutostart).split(u'\n').filter(QStringLiteral("Exec=")),
                                      QStringList{"Exec=/usr/lib/veskora/Veskora"}, kWait);
        else
            QVERIFY(!pathExists(kAutostart));
        // Still the file behind the link, the group's to write, and nothing beside it.
        QTRY_COMPARE_WITH_TIMEOUT(QDir(kConfigDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                                  (QStringList{"Client.cfg", "User.cfg"}), kWait);
        QCOMPARE(ownership(kClientCfg), QStringLiteral("664 0 veskora"));
    }
    // The X session entry on a bare X server: the panel covers the screen and has the keyboard; when
    // the program ends, so does the session with all it started.
    void kioskSession()
    {
        const QStringList exec = readFile(kSessionEntry).split(u'\n').filter(QRegularExpression(QStringLiteral("^Exec=")));
        QCOMPARE(exec.size(), 1);
        TestSupport::writeBytes(kClientCfg, "[Client]\r\ntxtServer=kiosk\r\n");
        RdpTestEnvironment::Display bare(1024, 768);
        Probe probe(bare.name());
        QVERIFY(probe.isOpen());
        const QSet<QString> before = processesOfNobody();
        Installed session(bare.name(), kAsMember + QStringList{exec.first().mid(5).trimmed()});
        QRect geometry;
        unsigned long window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = probe.topLevel("Veskora", &geometry)) && geometry == QRect(0, 0, 1024, 768), kWait);
        // The panel's window has the X input focus, not the pointer's window.
        QTRY_COMPARE_WITH_TIMEOUT(probe.inputFocus(), window, kWait);
        QCOMPARE(session.process.state(), QProcess::Running);
        for (const QString &pid : processesOfNobody({"-x", "Veskora"}) - before)
            QCOMPARE(::kill(pid.toInt(), SIGTERM), 0);
        QTRY_COMPARE_WITH_TIMEOUT(session.process.state(), QProcess::NotRunning, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!probe.topLevel({}), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(processesOfNobody() - before, QSet<QString>(), kWait);
    }
    // Purging takes away everything the package, its scripts and its program made.
    void purge()
    {
        QString out;
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
