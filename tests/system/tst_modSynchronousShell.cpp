// A real child run and waited for: its exit code, the waits, and what is never started.
#include "system/modSynchronousShell.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using modSynchronousShell::RunProcessAndWait;

namespace {

// Counts rounds of pending events: an event posted during a round is handled in the next.
struct RoundCounter : QObject
{
    int rounds = 0;
    RoundCounter() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
    bool event(QEvent *) override
    {
        ++rounds;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }
};

bool noChildren() { return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; } // running or zombie

} // namespace

class tst_modSynchronousShell : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString script(const QString &name, const QString &body, QFile::Permissions exe = QFile::ExeOwner)
    {
        QFile f(m_dir.filePath(name));
        const bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(body.toUtf8()) >= 0 && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | exe);
        return ok ? f.fileName() : QString();
    }

private slots:
    void init() { QVERIFY(noChildren()); }

    // The exit code; before a kill at the limit T, ceil(T / 1000) + 1 one-second waits with
    // pending events processed between two of them.
    void exitCodeAndWaits_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("waits");
        QTest::newRow("exit code") << "exit 3" << -1 << 3 << 1;
        QTest::newRow("ends within the first wait at limit 0") << "exit 4" << 0 << 4 << 1;
        QTest::newRow("waited for without limit") << "sleep 2.2; exit 11" << -1 << 11 << 3;
        QTest::newRow("ended by a signal") << "kill -TERM $$; sleep 5" << -1 << 128 + SIGTERM << 1;
        QTest::newRow("killed at 1000") << "exec sleep 1000" << 1000 << 259 << 2;
        QTest::newRow("killed at 1001") << "exec sleep 1000" << 1001 << 259 << 3;
        QTest::newRow("killed at -5") << "exec sleep 1000" << -5 << 259 << 1;
    }
    void exitCodeAndWaits()
    {
        QFETCH(QString, body);
        QFETCH(int, timeout);
        QFETCH(int, waits);
        const QString pidFile = m_dir.filePath(QStringLiteral("pid"));
        QFile::remove(pidFile);
        RoundCounter counter;
        QTEST(RunProcessAndWait(script(QStringLiteral("prog.sh"), QStringLiteral("#!/bin/sh\necho $$ > '%1'\n%2\n").arg(pidFile, body)), timeout), "code");
        QCOMPARE(counter.rounds, waits - 1);
        QFile f(pidFile);
        const pid_t pid = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : 0;
        QVERIFY(pid > 0 && ::kill(pid, 0) == -1 && errno == ESRCH && noChildren()); // gone and reaped
    }

    // This program as the child reports in its working directory what it was given.
    void argumentsEnvironmentAndDirectory()
    {
        const QString before = QDir::currentPath();
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("work"))) && QDir::setCurrent(m_dir.filePath(QStringLiteral("work"))));
        qputenv("VESKORA_SHELL_CHILD", "inherited");
        const qint32 code = RunProcessAndWait(QCoreApplication::applicationFilePath(), -1);
        qunsetenv("VESKORA_SHELL_CHILD");
        QDir::setCurrent(before);
        QCOMPARE(code, 42);
        QFile f(m_dir.filePath(QStringLiteral("work/report")));
        QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll() == "argc=1 argv0=0 mark=inherited");
    }

    // Nothing starts, 0 comes back: the file named is run itself, never looked up along PATH,
    // split into arguments or handed to a shell; a relative name is found in the working directory.
    void cannotStart_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"./missing.sh", "", "./plain.sh", "./noshebang", "sh", "./prog.sh 1"})
            QTest::addRow("'%s'", name) << QString::fromLatin1(name);
    }
    void cannotStart()
    {
        QFETCH(QString, name);
        const QString marker = m_dir.filePath(QStringLiteral("started"));
        script(QStringLiteral("plain.sh"), QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(marker), {});
        script(QStringLiteral("prog.sh"), QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(marker));
        script(QStringLiteral("noshebang"), QStringLiteral("touch '%1'\n").arg(marker));
        script(QStringLiteral("rel.sh"), QStringLiteral("#!/bin/sh\nexit 17\n"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const qint32 code = RunProcessAndWait(name, -1), relative = RunProcessAndWait(QStringLiteral("rel.sh"), -1);
        QDir::setCurrent(before);
        QVERIFY(code == 0 && relative == 17 && !QFile::exists(marker) && noChildren());
    }
};

int main(int argc, char **argv)
{
    const char *mark = std::getenv("VESKORA_SHELL_CHILD");
    if (mark || (argc == 1 && qstrcmp(argv[0], "0") == 0)) { // the child of argumentsEnvironmentAndDirectory
        std::ofstream("report") << "argc=" << argc << " argv0=" << argv[0] << " mark=" << (mark ? mark : "");
        return 42;
    }
    QCoreApplication app(argc, argv);
    tst_modSynchronousShell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modSynchronousShell.moc"
