// The exit flags ShutdownSystem hands on, the requests to a stand-in logind on a private bus, the window helpers.
#include "system/modSystemBasic.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <sched.h>
#include <unistd.h>

using namespace modSystemBasic;

const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/_31");
static QStringList asked; // what the stand-in logind was asked, in order

class FakeSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
public slots:
    void Terminate() { asked << QStringLiteral("Terminate"); }
};

class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    bool hasSession = true;
public slots:
    void Reboot(bool interactive) { asked << QStringLiteral("Reboot %1").arg(interactive); }
    void PowerOff(bool interactive) { asked << QStringLiteral("PowerOff %1").arg(interactive); }
    QDBusObjectPath GetSessionByPID(uint pid)
    {
        asked << QStringLiteral("GetSessionByPID %1").arg(pid);
        if (!hasSession)
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"), QStringLiteral("no session"));
        return QDBusObjectPath(kSessionPath);
    }
};

class tst_modSystemBasic : public QObject
{
    Q_OBJECT

    QProcess m_daemon;
    FakeManager m_manager;
    FakeSession m_session;
    QList<quint32> m_exits; // flags; 999: a reserved argument other than 0xFFFFFFFF

private slots:
    void initTestCase()
    {
        SetMachineControl([this](quint32 flags, quint32 reserved) { m_exits << (reserved == 0xFFFFFFFFu ? flags : 999u); });
        m_daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY2(m_daemon.waitForStarted(), "dbus-daemon is missing (scripts/install-deps installs it)");
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("service"));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")) && service.registerObject(kSessionPath, &m_session, QDBusConnection::ExportAllSlots)
                && service.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_manager, QDBusConnection::ExportAllSlots));
        QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("client")).isConnected());
    }
    void cleanupTestCase() { m_daemon.kill(), m_daemon.waitForFinished(10000); }
    void init() { m_exits.clear(), asked.clear(), SetVersionReader({}); }

    // "NT", "9x": the version record names that family; "Linux": the real one, naming none; "failed": reads as NT.
    void exitFlags_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<qint32>("mode");
        QTest::addColumn<int>("flags"); // -1: nothing is exited
        const QList<std::tuple<const char *, qint32, int>> rows{
            {"NT", 0, 0}, {"NT", 1, 7}, {"NT", 2, 1}, {"NT", 3, 5}, {"NT", 4, -1}, {"NT", -1, -1},
            {"9x", 0, 0}, {"9x", 1, 3}, {"9x", 2, 1}, {"9x", 3, 1}, {"Linux", 1, 3}, {"Linux", 3, 1},
            {"Linux", 2147483647, -1}, {"failed", 1, 7}};
        for (const auto &[platform, mode, flags] : rows)
            QTest::addRow("%s, mode %d", platform, mode) << QString::fromLatin1(platform) << mode << flags;
    }
    void exitFlags()
    {
        QFETCH(QString, platform);
        QFETCH(qint32, mode);
        QFETCH(int, flags);
        if (platform != u"Linux")
            SetVersionReader([=] { return VersionRecord{platform == u"NT" ? 2 : platform == u"9x" ? 1 : 0, 5, 1, platform == u"failed" ? 87 : 0}; });
        ShutdownSystem(mode);
        QCOMPARE(m_exits, flags < 0 ? QList<quint32>() : QList<quint32>{quint32(flags)});
    }

    // Each request, then a shut-down behind it: once that arrives nothing else was asked. Without a bus nothing happens.
    void logindRequests_data()
    {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("hasSession");
        QTest::addColumn<QStringList>("calls");
        const QString lookup = QStringLiteral("GetSessionByPID %1").arg(QCoreApplication::applicationPid());
        QTest::newRow("restart, forced") << 7u << true << QStringList{"Reboot 0"};
        QTest::newRow("shut down, forced") << 5u << true << QStringList{"PowerOff 0"};
        QTest::newRow("log off") << 0u << true << QStringList{lookup, "Terminate"};
        QTest::newRow("log off outside a session") << 0u << false << QStringList{lookup};
    }
    void logindRequests()
    {
        QFETCH(quint32, flags);
        QFETCH(QStringList, calls);
        QFETCH(bool, hasSession);
        m_manager.hasSession = hasSession;
        RequestLogind(QDBusConnection(QStringLiteral("client")), flags);
        QTRY_COMPARE(asked, calls);
        RequestLogind(QDBusConnection(QStringLiteral("none")), flags);
        RequestLogind(QDBusConnection(QStringLiteral("client")), EWX_SHUTDOWN);
        calls << QStringLiteral("PowerOff 0");
        QTRY_COMPARE(asked, calls);
    }

    // The host's own name, its first label, cut to 15 characters; in a host-name namespace of the test's own.
    void computerName_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QString>("name");
        QTest::newRow("with its domain") << QByteArray("panel01.plant.example") << "panel01";
        QTest::newRow("long") << QByteArray("operatorpanel0017") << "operatorpanel00";
    }
    void computerName()
    {
        QFETCH(QByteArray, host);
        if (static const bool own = ::unshare(CLONE_NEWUTS) == 0; !own)
            QSKIP("a host-name namespace needs root (CAP_SYS_ADMIN)");
        QVERIFY(::sethostname(host.constData(), size_t(host.size())) == 0);
        QTEST(GetLocalComputerName(), "name");
    }

    // Close requests refused; the window stays on top, where and as visible as it was.
    void windowHelpers()
    {
        QWidget w;
        w.setGeometry(40, 50, 300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        RemoveCloseMenu(&w), SetFormOnTop(&w);
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint) && (w.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible() && w.geometry() == QRect(40, 50, 300, 200) && !w.close());
    }
};

QTEST_MAIN(tst_modSystemBasic)
#include "tst_modSystemBasic.moc"
