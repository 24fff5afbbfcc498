// The single-instance rule with real processes of the program.
#include "startup/modStartClient.h"

#include "../e2e/RdpTestEnvironment.h"
#include "../support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class tst_SingleInstance : public QObject
{
    Q_OBJECT

    // A directory of its own: no other test's instance counts as a previous one here.
    QTemporaryDir m_dir{QCoreApplication::applicationDirPath() + QStringLiteral("/instance-XXXXXX")};
    QString m_program;

    // On the given X display, else on no display at all.
    bool start(QProcess &p, const QString &program, const QStringList &args, const QString &display = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, args);
        return p.waitForStarted(30000);
    }

    // The pid recorded in the program's lock, 0 when there is none.
    qint64 lockHolder() const
    {
        qint64 pid = 0;
        return QLockFile(modStartClient::InstanceLockPath(m_program)).getLockInfo(&pid, nullptr, nullptr) ? pid : 0;
    }

    static void stop(QProcess &p) { p.kill(), p.waitForFinished(30000); }

private slots:
    void initTestCase()
    {
        TestSupport::withoutSessionBus();
        const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/Veskora");
        QVERIFY2(QFile::exists(built), "build the Veskora target first");
        m_program = m_dir.filePath(QStringLiteral("Veskora"));
        if (::link(QFile::encodeName(built).constData(), QFile::encodeName(m_program).constData()) != 0)
            QVERIFY(QFile::copy(built, m_program));
    }

    void cleanupTestCase()
    {
        QFile::remove(modStartClient::InstanceLockPath(m_program)); // killed instances leave theirs
    }

    // A second start ends silently, the first stays; a killed one's lock is taken over.
    void secondStart_data()
    {
        QTest::addColumn<QStringList>("firstArgs");
        QTest::addColumn<bool>("killFirst");
        QTest::addColumn<QStringList>("secondArgs");
        QTest::newRow("client running, /?") << QStringList{"/NOTMAX", "/RUN"} << false << QStringList{"/?"};
        QTest::newRow("first killed") << QStringList{"-platform", "nowhere"} << true << QStringList{"/?"};
    }
    void secondStart()
    {
        QFETCH(QStringList, firstArgs);
        QFETCH(bool, killFirst);
        QFETCH(QStringList, secondArgs);
        QProcess first, second;
        const auto stopBoth = qScopeGuard([&] { stop(second), stop(first); });
        QVERIFY(start(first, m_program, firstArgs));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), first.processId(), 30000);
        if (killFirst)
            stop(first);
        QVERIFY(start(second, m_program, secondArgs));
        if (killFirst) {
            QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), second.processId(), 30000);
            QCOMPARE(second.state(), QProcess::Running);
            return;
        }
        QVERIFY2(second.waitForFinished(30000) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0,
                 "the second instance did not end cleanly");
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QVERIFY(first.state() == QProcess::Running && lockHolder() == first.processId());
    }

    // Without the session module the panel links up; an ordered session fails, the panel stays.
    void startsWithoutTheSessionModule()
    {
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("libveskora-session.so"))));
        TestSupport::LoopbackServer link;
        const QString cfg = m_dir.filePath(QStringLiteral("Client.cfg"));
        const auto removeCfg = qScopeGuard([&] { QFile::remove(cfg); });
        TestSupport::writeBytes(cfg, QStringLiteral("[Client]\r\ntxtServer=127.0.0.1\r\ntxtPort=%1\r\nAutoConnect=1\r\n")
                                         .arg(link.port()).toLatin1());
        RdpTestEnvironment::Display display;
        QProcess p;
        const auto stopIt = qScopeGuard([&] { stop(p); });
        QVERIFY(start(p, m_program, {}, display.name()));
        if (!QTest::qWaitFor([&] { return link.peer() != nullptr; }, 30000))
            QFAIL(qPrintable(QStringLiteral("the panel did not link up; ") + RdpTestEnvironment::stateOf(p)));
        link.send("@#cmd:6##Argument:1##NrOfUsers:1##Username:op##Password:pw##Resolution:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(link.received.contains("@#cmd:7##Argument:1###@"), 30000);
        link.received.clear();
        link.send("@#cmd:11##Argument:1###@@#cmd:2##Argument:0###@"); // connect, then: your state?
        QTRY_COMPARE_WITH_TIMEOUT(link.received, QByteArray("@#cmd:3##Argument:0###@"), 30000);
        QProcess info;
        QVERIFY(start(info, QStringLiteral("xwininfo"), {"-name", "Torvane Remote Desktop Client"}, display.name()));
        QVERIFY(info.waitForFinished(30000) && info.readAllStandardOutput().contains("Map State: IsViewable"));
        QCOMPARE(p.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
