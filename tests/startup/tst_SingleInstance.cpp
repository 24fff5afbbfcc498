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

private:
    // The program runs from a directory of its own, so that no other test's instance of the
    // built program counts as a previous instance here, and its configuration stays here.
    QTemporaryDir m_dir{QCoreApplication::applicationDirPath() + QStringLiteral("/instance-XXXXXX")};
    QString m_program;

    // On the given X display, else on no display at all.
    bool start(QProcess &p, const QStringList &args, const QString &display = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(m_program, args);
        return p.waitForStarted(30000);
    }

    // The pid recorded in the program's lock, 0 when there is none.
    qint64 lockHolder() const
    {
        QLockFile lock(modStartClient::InstanceLockPath(m_program));
        qint64 pid = 0;
        QString host, app;
        return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
    }

    // Whether the process ended by itself with exit code 0; it is killed if not.
    static bool endsCleanly(QProcess &p)
    {
        const bool ended = p.waitForFinished(30000);
        stop(p);
        return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    static void stop(QProcess &p)
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(30000);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/Veskora");
        QVERIFY2(QFile::exists(built), "build the Veskora target first");
        m_program = m_dir.filePath(QStringLiteral("Veskora"));
        if (::link(QFile::encodeName(built).constData(), QFile::encodeName(m_program).constData()) != 0)
            QVERIFY(QFile::copy(built, m_program));
    }

    void cleanupTestCase()
    {
        // Killed instances leave their lock behind.
        QFile::remove(modStartClient::InstanceLockPath(m_program));
    }

    void secondStartEndsSilently_data()
    {
        QTest::addColumn<QStringList>("firstArgs");
        QTest::addColumn<QStringList>("secondArgs");
        // The usage box waits for a person, the client runs on: the first instance stays.
        QTest::newRow("usage open, three words") << QStringList{"/?"} << QStringList{"a", "b", "c"};
        QTest::newRow("client running, /?") << QStringList{"/NOTMAX", "/RUN"} << QStringList{"/?"};
    }
    void secondStartEndsSilently()
    {
        QFETCH(QStringList, firstArgs);
        QFETCH(QStringList, secondArgs);
        QProcess first, second;
        const auto stopBoth = qScopeGuard([&] {
            stop(second);
            stop(first);
        });
        QVERIFY(start(first, firstArgs));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), first.processId(), 30000);

        QVERIFY(start(second, secondArgs));
        QVERIFY2(endsCleanly(second), "the second instance did not end cleanly");
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(lockHolder(), first.processId());
    }

    void lockOfAKilledInstanceIsTakenOver()
    {
        QProcess first, next;
        const auto stopBoth = qScopeGuard([&] {
            stop(next);
            stop(first);
        });
        QVERIFY(start(first, {QStringLiteral("/?")}));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), first.processId(), 30000);
        const qint64 dead = first.processId();
        stop(first);

        QVERIFY(start(next, {QStringLiteral("/?")}));
        QTRY_COMPARE_WITH_TIMEOUT(lockHolder(), next.processId(), 30000);
        QVERIFY(next.processId() != dead);
        QCOMPARE(next.state(), QProcess::Running);
    }

    // Every word is the program's and the toolkit acts on none: its own options give the
    // usage box (the toolkit would have ended the program at once for an unknown platform).
    void toolkitOptionsAreWordsOfTheProgram_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("-style fusion") << QStringList{"-style", "fusion"};
        QTest::newRow("-platform nowhere") << QStringList{"-platform", "nowhere"};
    }
    void toolkitOptionsAreWordsOfTheProgram()
    {
        QFETCH(QStringList, args);
        RdpTestEnvironment::Display display;
        QVERIFY2(display.isRunning(), "Xvfb did not start");
        const auto windows = [&] {
            QProcess list;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display.name());
            list.setProcessEnvironment(env);
            list.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
            list.waitForFinished(30000);
            return list.readAllStandardOutput();
        };
        QProcess p;
        const auto stopIt = qScopeGuard([&] { stop(p); });
        QVERIFY(start(p, args, display.name()));
        QTRY_VERIFY_WITH_TIMEOUT(windows().contains("\"Torvane_Veskora\""), 30000);
        QVERIFY(!windows().contains("Torvane Remote Desktop Client"));
        QCOMPARE(p.state(), QProcess::Running);
    }

    // The program's directory here holds no session module: the panel starts and links up as
    // ever; a session ordered over the side link fails, and the panel stays with its window.
    void startsWithoutTheSessionModule()
    {
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("libveskora-session.so"))));
        TestSupport::LoopbackServer link;
        QFile cfg(m_dir.filePath(QStringLiteral("Client.cfg")));
        const auto removeCfg = qScopeGuard([&] { cfg.remove(); });
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write(QStringLiteral("[Client]\r\ntxtServer=127.0.0.1\r\ntxtPort=%1\r\nAutoConnect=1\r\n").arg(link.port()).toLatin1());
        cfg.close();
        RdpTestEnvironment::Display display;
        QProcess p;
        const auto stopIt = qScopeGuard([&] { stop(p); });
        QVERIFY(start(p, {}, display.name()));
        QTRY_VERIFY_WITH_TIMEOUT(link.peer(), 30000);
        link.send("@#cmd:6##Argument:1##NrOfUsers:1##Username:op##Password:pw##Resolution:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(link.received.contains("@#cmd:7##Argument:1###@"), 30000);
        link.received.clear();
        link.send("@#cmd:11##Argument:1###@@#cmd:2##Argument:0###@"); // connect, then: your state?
        QTRY_COMPARE_WITH_TIMEOUT(link.received, QByteArray("@#cmd:3##Argument:0###@"), 30000);
        QProcess info;
        info.setProcessEnvironment(p.processEnvironment());
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-name"), QStringLiteral("Torvane Remote Desktop Client")});
        QVERIFY(info.waitForFinished(30000));
        QVERIFY(info.readAllStandardOutput().contains("Map State: IsViewable"));
        QCOMPARE(p.state(), QProcess::Running);
    }

    void notMaxAloneEndsTheProgram()
    {
        QProcess p;
        QVERIFY(start(p, {QStringLiteral("/NOTMAX")}));
        QVERIFY(endsCleanly(p));
    }
};

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"
