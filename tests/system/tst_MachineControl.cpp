// The logind requests of the real machine control, sent to a stand-in logind on a private
// message bus of our own. The system bus is never touched.
#include "system/modSystemBasic.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace modSystemBasic;

namespace {

const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/_31");

class FakeSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")

public:
    QStringList *log = nullptr;

public slots:
    void Terminate() { log->append(QStringLiteral("Terminate")); }
};

class FakeManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QStringList *log = nullptr;
    bool hasSession = true;

public slots:
    void Reboot(bool interactive) { log->append(interactive ? "Reboot true" : "Reboot false"); }
    void PowerOff(bool interactive) { log->append(interactive ? "PowerOff true" : "PowerOff false"); }
    QDBusObjectPath GetSessionByPID(uint pid)
    {
        log->append(QStringLiteral("GetSessionByPID %1").arg(pid));
        if (!hasSession) {
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"), QStringLiteral("no session"));
            return {};
        }
        return QDBusObjectPath(kSessionPath);
    }
};

} // namespace

class tst_MachineControl : public QObject
{
    Q_OBJECT

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_log;
    FakeManager m_manager;
    FakeSession m_session;

    QDBusConnection clientBus() { return QDBusConnection(QStringLiteral("client")); }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        QVERIFY2(!daemon.isEmpty(), "dbus-daemon is missing (scripts/install-deps installs it)");
        m_daemon.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(m_daemon.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());

        QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
        QVERIFY(service.isConnected());
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));
        m_manager.log = &m_log;
        m_session.log = &m_log;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &m_manager, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerObject(kSessionPath, &m_session, QDBusConnection::ExportAllSlots));

        QVERIFY(QDBusConnection::connectToBus(m_address, QStringLiteral("client")).isConnected());
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
        m_log.clear();
        m_manager.hasSession = true;
    }

    void requests_data()
    {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<QStringList>("calls");
        const QString lookup = QStringLiteral("GetSessionByPID %1").arg(QCoreApplication::applicationPid());
        QTest::newRow("restart, forced") << 7u << QStringList{"Reboot false"};
        QTest::newRow("shut down") << 1u << QStringList{"PowerOff false"};
        QTest::newRow("log off") << 0u << QStringList{lookup, "Terminate"};
    }
    void requests()
    {
        QFETCH(quint32, flags);
        QFETCH(QStringList, calls);
        RequestLogind(clientBus(), flags);
        QTRY_COMPARE(m_log, calls);
    }

    void logOffOutsideASessionEndsNothing()
    {
        m_manager.hasSession = false;
        RequestLogind(clientBus(), 0);
        QTRY_COMPARE(m_log.size(), 1);
        RequestLogind(clientBus(), 1); // once this arrives, nothing else was asked before it
        QTRY_COMPARE(m_log.size(), 2);
        QCOMPARE(m_log.at(1), QStringLiteral("PowerOff false"));
    }

    void missingBusIsIgnored()
    {
        QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/veskora-bus"), QStringLiteral("none"));
        QVERIFY(!none.isConnected());
        RequestLogind(none, 1);
        RequestLogind(none, 0);
        QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    }

    void missingLogindIsIgnored()
    {
        QDBusConnection service(QStringLiteral("service"));
        QVERIFY(service.unregisterService(QStringLiteral("org.freedesktop.login1")));
        RequestLogind(clientBus(), 2);
        RequestLogind(clientBus(), 0);
        // One connection's messages are handled in order: this answer means both were refused.
        QVERIFY(!clientBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")).value());
        QVERIFY(m_log.isEmpty());
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));
        RequestLogind(clientBus(), 3);
        QTRY_COMPARE(m_log, QStringList{"Reboot false"});
    }
};

QTEST_GUILESS_MAIN(tst_MachineControl)
#include "tst_MachineControl.moc"
