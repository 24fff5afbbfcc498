#include "system/modSynchronousShell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Counts rounds of pending events: it reposts itself, and Qt handles an event posted during
// a round only in the next one.
class RoundCounter : public QObject
{
public:
    int rounds = 0;
    void start() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }
    bool event(QEvent *e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++rounds;
        start();
        return true;
    }
};

// No child at all, running or zombie.
bool noChildren()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

qint32 run(QString file, qint32 timeoutMs, bool hidden = false)
{
    return modSynchronousShell::RunProcessAndWait(file, timeoutMs, hidden);
}

} // namespace

class tst_modSynchronousShell : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString script(const QString &name, const QString &body, bool executable = true)
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        f.write(body.toUtf8());
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | (executable ? QFile::ExeOwner : QFile::Permissions()));
        return f.fileName();
    }
    // Runs a script that records its pid first; checks it is gone and reaped afterwards.
    void runRecorded(const QString &body, qint32 timeout, bool hidden, qint32 &code)
    {
        const QString pidFile = m_dir.filePath(QStringLiteral("pid"));
        QFile::remove(pidFile);
        code = run(script(QStringLiteral("prog.sh"), QStringLiteral("#!/bin/sh\necho $$ > '%1'\n%2\n").arg(pidFile, body)), timeout, hidden);
        QFile f(pidFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const pid_t pid = f.readAll().trimmed().toInt();
        QVERIFY(pid > 0);
        QVERIFY(::kill(pid, 0) == -1 && errno == ESRCH);
        QVERIFY(noChildren());
    }

private slots:
    void init() { QVERIFY(noChildren()); }

    void exitCode_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<int>("expected");
        QTest::newRow("3") << "exit 3" << -1 << false << 3;
        QTest::newRow("hidden changes nothing") << "exit 7" << -1 << true << 7;
        QTest::newRow("ends within the first wait at limit 0") << "exit 4" << 0 << false << 4;
        QTest::newRow("runs past several waits") << "sleep 2.2; exit 11" << -1 << false << 11;
        QTest::newRow("ended by a signal") << "kill -TERM $$; sleep 5" << -1 << false << 128 + SIGTERM;
    }
    void exitCode()
    {
        QFETCH(QString, body);
        QFETCH(int, timeout);
        QFETCH(bool, hidden);
        QFETCH(int, expected);
        qint32 code = -1;
        runRecorded(body, timeout, hidden, code);
        QCOMPARE(code, expected);
    }

    // ceil(T / 1000) + 1 one-second waits, pending events processed between two of them.
    void killedAtTheLimit_data()
    {
        QTest::addColumn<int>("timeout");
        QTest::addColumn<int>("waits");
        QTest::newRow("1000") << 1000 << 2;
        QTest::newRow("1001") << 1001 << 3;
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("-5") << -5 << 1;
    }
    void killedAtTheLimit()
    {
        QFETCH(int, timeout);
        QFETCH(int, waits);
        RoundCounter counter;
        counter.start();
        qint32 code = -1;
        runRecorded(QStringLiteral("exec sleep 1000"), timeout, false, code);
        QCOMPARE(code, modSynchronousShell::STILL_ACTIVE);
        QCOMPARE(counter.rounds, waits - 1);
    }

    // The test program itself, run as the child, reports what it was given.
    void argumentsEnvironmentAndDirectory()
    {
        const QString out = m_dir.filePath(QStringLiteral("report"));
        const QString workDir = m_dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(workDir));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workDir));
        qputenv("VESKORA_SHELL_CHILD", "report");
        qputenv("VESKORA_SHELL_OUT", out.toLocal8Bit());
        qputenv("VESKORA_SHELL_MARK", "inherited value");
        const qint32 code = run(QCoreApplication::applicationFilePath(), -1);
        qunsetenv("VESKORA_SHELL_CHILD");
        QDir::setCurrent(before);
        QCOMPARE(code, 42);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(f.readAll()).split(u'\n').mid(0, 4),
                 (QStringList{"argc=1", "argv0=0", "cwd=" + QDir(workDir).canonicalPath(), "mark=inherited value"}));
        QVERIFY(noChildren());
    }

    void cannotStart_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing file") << "missing.sh";
        QTest::newRow("empty name") << "";
        QTest::newRow("not executable") << "plain.sh";
        QTest::newRow("not a program") << "noshebang";
        QTest::newRow("a directory") << "adir";
        QTest::newRow("found only along PATH") << "sh";
        QTest::newRow("arguments are not parsed") << "prog.sh 1";
    }
    void cannotStart()
    {
        QFETCH(QString, name);
        const QString marker = m_dir.filePath(QStringLiteral("started"));
        const QString body = QStringLiteral("#!/bin/sh\ntouch '%1'\nexit 1\n").arg(marker);
        script(QStringLiteral("plain.sh"), body, false);
        script(QStringLiteral("prog.sh"), body);
        script(QStringLiteral("noshebang"), QStringLiteral("touch '%1'\n").arg(marker));
        script(QStringLiteral("rel.sh"), QStringLiteral("#!/bin/sh\nexit 17\n"));
        QDir(m_dir.path()).mkpath(QStringLiteral("adir"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const qint32 code = run(name.isEmpty() ? name : QStringLiteral("./") + name, -1);
        const qint32 bare = run(name, -1); // a bare name is not looked up along PATH either
        const qint32 relative = run(QStringLiteral("rel.sh"), -1); // but found in the working directory
        QDir::setCurrent(before);
        QCOMPARE(code, 0);
        QCOMPARE(bare, 0);
        QCOMPARE(relative, 17);
        QVERIFY(!QFile::exists(marker));
        QVERIFY(noChildren());
    }
};

// The child of argumentsEnvironmentAndDirectory: reports, then ends with a known code.
static int childMain(int argc, char **argv)
{
    std::ofstream out(std::getenv("VESKORA_SHELL_OUT"));
    out << "argc=" << argc << '\n';
    for (int i = 0; i < argc; ++i)
        out << "argv" << i << '=' << argv[i] << '\n';
    char cwd[4096] = {};
    if (!::getcwd(cwd, sizeof cwd))
        return 1;
    const char *mark = std::getenv("VESKORA_SHELL_MARK");
    out << "cwd=" << cwd << '\n' << "mark=" << (mark ? mark : "") << '\n';
    return 42;
}

int main(int argc, char **argv)
{
    if (const char *mode = std::getenv("VESKORA_SHELL_CHILD"); mode && std::string(mode) == "report")
        return childMain(argc, argv);
    QCoreApplication app(argc, argv);
    tst_modSynchronousShell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modSynchronousShell.moc"
