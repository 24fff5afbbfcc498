// A real child run and waited for: its exit code, the waits, and what is never started.
#include "system/modSynchronousShell.h"

#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using modSynchronousShell::RunProcessAndWait;

// Counts rounds of pending events: an event posted during a round is handled in the next.
struct RoundCounter : QObject
{
    int rounds = 0;
    RoundCounter() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
    bool event(QEvent *) override { return QCoreApplication::postEvent(this, new QEvent(QEvent::User)), ++rounds; }
};

static bool noChildren() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; } // running or zombie

class tst_modSynchronousShell : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    bool script(const QString &name, const QString &body, QFile::Permissions exe = QFile::ExeOwner)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(body.toUtf8()) >= 0 && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | exe);
    }

private slots:
    void initTestCase() { qputenv("VESKORA_CODE", "3"), qputenv("VESKORA_PLAY_CHILD", "1"); QVERIFY(QDir::setCurrent(m_dir.path())); }
    void init() { QVERIFY(noChildren()); }

    // The exit code; before a kill at limit T, ceil(T / 1000) + 1 one-second waits, events handled between. Code 0: the
    // file named is run itself, never looked up along PATH, split or handed to a shell; relative: in the working directory.
    void run_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("body"); // of prog.sh
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("waits");
        QTest::newRow("exit code, environment inherited") << "./prog.sh" << "exit $VESKORA_CODE" << -1 << 3 << 1;
        QTest::newRow("ends within the first wait at limit 0") << "./prog.sh" << "exit 4" << 0 << 4 << 1;
        QTest::newRow("relative name, waited for without limit") << "prog.sh" << "sleep 2.2; exit 11" << -1 << 11 << 3;
        QTest::newRow("ended by a signal") << "./prog.sh" << "kill -TERM $$; sleep 5" << -1 << 128 + SIGTERM << 1;
        QTest::newRow("killed at 1000") << "./prog.sh" << "exec sleep 1000" << 1000 << 259 << 2;
        QTest::newRow("killed at 1001") << "./prog.sh" << "exec sleep 1000" << 1001 << 259 << 3;
        QTest::newRow("killed at -5") << "./prog.sh" << "exec sleep 1000" << -5 << 259 << 1;
        // This test program, told by its environment to play the child: exit code 42 when its command line is "0" alone.
        QTest::newRow("the whole command line is 0") << QCoreApplication::applicationFilePath() << "" << -1 << 42 << 1;
        for (const char *name : {"./missing.sh", "", "./plain.sh", "./noshebang", "sh", "./prog.sh 1"})
            QTest::addRow("'%s' cannot start", name) << QString::fromLatin1(name) << "exit 1" << -1 << 0 << 1;
    }
    void run()
    {
        QFETCH(QString, name);
        QFETCH(QString, body);
        QFETCH(int, timeout);
        QFETCH(int, code);
        QFETCH(int, waits);
        const QString pidFile = m_dir.filePath(QStringLiteral("pid")), head = "#!/bin/sh\necho $$ > '" + pidFile + "'\n";
        QFile::remove(pidFile);
        QVERIFY(script(QStringLiteral("prog.sh"), head + body) && script(QStringLiteral("plain.sh"), head, {})
                && script(QStringLiteral("noshebang"), head.mid(head.indexOf(u'\n') + 1)));
        RoundCounter counter;
        QCOMPARE(RunProcessAndWait(name, timeout), code);
        QCOMPARE(counter.rounds, waits - 1);
        QFile f(pidFile);
        const pid_t pid = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : 0;
        QVERIFY(code == 0 ? pid == 0 : pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH); // gone
        QVERIFY(noChildren()); // and reaped
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("VESKORA_PLAY_CHILD")) { // started by the test: tells its pid in its directory
        QFile pid(QStringLiteral("pid"));
        return pid.open(QIODevice::WriteOnly) && pid.write(QByteArray::number(::getpid())) > 0 && argc == 1 && qstrcmp(argv[0], "0") == 0 ? 42 : 1;
    }
    QCoreApplication app(argc, argv);
    tst_modSynchronousShell test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_modSynchronousShell.moc"
