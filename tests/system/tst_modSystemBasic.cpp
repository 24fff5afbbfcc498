// The system module: the digit filter, the window helpers, and machine control: the exit
// flags ShutdownSystem hands on, and the logind requests of the real control sent to a
// stand-in logind on a private message bus of our own. The machine never goes down.
#include "system/modSystemBasic.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

using namespace modSystemBasic;

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/_31");
QStringList asked; // what the stand-in logind was asked, in order

class FakeSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
public slots:
    void Terminate() { asked.append(QStringLiteral("Terminate")); }
};

class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    bool hasSession = true;
public slots:
    void Reboot(bool interactive) { asked.append(interactive ? "Reboot true" : "Reboot false"); }
    void PowerOff(bool interactive) { asked.append(interactive ? "PowerOff true" : "PowerOff false"); }
    QDBusObjectPath GetSessionByPID(uint pid)
    {
        asked.append(QStringLiteral("GetSessionByPID %1").arg(pid));
        if (!hasSession)
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"), QStringLiteral("no session"));
        return QDBusObjectPath(hasSession ? kSessionPath : QStringLiteral("/"));
    }
};

} // namespace

class tst_modSystemBasic : public QObject
{
    Q_OBJECT

    QProcess m_daemon;
    FakeManager m_manager;
    FakeSession m_session;
    using Exits = QList<QPair<quint32, quint32>>; // flags, reserved
    Exits m_exits;
    static QDBusConnection client() { return QDBusConnection(QStringLiteral("client")); }

private slots:
    void initTestCase()
    {
        SetMachineControl([this](quint32 flags, quint32 reserved) { m_exits.append({flags, reserved}); });
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        QVERIFY2(!daemon.isEmpty(), "dbus-daemon is missing (scripts/install-deps installs it)");
        m_daemon.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("service"));
        QVERIFY(service.registerService(kService));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_manager, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerObject(kSessionPath, &m_session, QDBusConnection::ExportAllSlots));
        QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("client")).isConnected());
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        m_daemon.kill();
        m_daemon.waitForFinished(10000);
    }
    void init()
    {
        m_exits.clear();
        asked.clear();
        SetVersionReader({});
    }

    // "NT" and "9x": the version record names that family; "Linux": the real record, which
    // names none; "failed": the query fails, and its error number reads as NT.
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
        const Exits expected = flags < 0 ? Exits{} : Exits{{quint32(flags), 0xFFFFFFFFu}};
        QCOMPARE(m_exits, expected);
    }

    // Each request, then a shut-down request behind it: once that arrives, nothing else was
    // asked before it.
    void logindRequests_data()
    {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("hasSession");
        QTest::addColumn<QStringList>("calls");
        const QString lookup = QStringLiteral("GetSessionByPID %1").arg(QCoreApplication::applicationPid());
        QTest::newRow("restart, forced") << 7u << true << QStringList{"Reboot false"};
        QTest::newRow("shut down") << 1u << true << QStringList{"PowerOff false"};
        QTest::newRow("log off") << 0u << true << QStringList{lookup, "Terminate"};
        QTest::newRow("log off outside a session") << 0u << false << QStringList{lookup};
    }
    void logindRequests()
    {
        QFETCH(quint32, flags);
        QFETCH(bool, hasSession);
        QFETCH(QStringList, calls);
        m_manager.hasSession = hasSession;
        RequestLogind(client(), flags);
        QTRY_COMPARE(asked, calls);
        RequestLogind(client(), EWX_SHUTDOWN);
        calls << QStringLiteral("PowerOff false");
        QTRY_COMPARE(asked, calls);
        QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/veskora-bus"), QStringLiteral("none"));
        RequestLogind(none, flags); // no bus: nothing happens
        QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    }

    void filterDigitKey_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        for (int key : {int('0'), int('9'), 8})
            QTest::addRow("passes %d", key) << key << key;
        for (int key : {0, 9, 13, int('-'), int('.'), int('/'), int(':'), int('a'), 127, 178, -1, 0x0660})
            QTest::addRow("refused %d", key) << key << 0;
    }
    void filterDigitKey()
    {
        QFETCH(int, key);
        qint16 k = qint16(key);
        FilterDigitKey(k);
        QTEST(int(k), "result");
    }

    // Both keep the window where it is and as visible as it was.
    void removeCloseMenuAndSetFormOnTop()
    {
        QWidget w, hidden;
        w.setGeometry(40, 50, 300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        RemoveCloseMenu(&w);
        RemoveCloseMenu(&w); // twice: still one guard
        SetFormOnTop(&w);
        SetFormOnTop(&hidden);
        QVERIFY(IsCloseRemoved(&w) && w.isVisible());
        QCOMPARE(w.findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint) && (w.windowFlags() & Qt::WindowTitleHint) && (w.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(!hidden.isVisible() && (hidden.windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(w.geometry(), QRect(40, 50, 300, 200));
        QVERIFY(!w.close());
        QCloseEvent request;
        QApplication::sendEvent(&w, &request);
        QVERIFY(!request.isAccepted() && w.isVisible());
        QPointer<QWidget> guarded = new QWidget; // unloading still deletes
        RemoveCloseMenu(guarded);
        delete guarded.data();
        QVERIFY(guarded.isNull());
        // On Windows 95 the system menu was left alone.
        SetVersionReader([] { return VersionRecord{1, 4, 0, 0}; });
        RemoveCloseMenu(&hidden);
        QVERIFY(!IsCloseRemoved(&hidden) && hidden.close());
    }
};

QTEST_MAIN(tst_modSystemBasic)
#include "tst_modSystemBasic.moc"
