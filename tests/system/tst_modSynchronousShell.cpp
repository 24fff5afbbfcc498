#include "system/modSynchronousShell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using modSynchronousShell::RunProcessAndWait;

namespace {

// Counts the rounds of pending events processed: it reposts itself each time it is handled,
// and Qt handles an event posted during a round only in the next one.
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

// True when this process has no child at all, running or zombie.
bool noChildren()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

qint32 run(const QString &file, qint32 timeoutMs, bool hidden = false)
{
    QString commandLine = file;
    qint32 timeout = timeoutMs;
    bool hide = hidden;
    return RunProcessAndWait(commandLine, timeout, hide);
}

} // namespace

class tst_modSynchronousShell : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void exitCode_data();
    void exitCode();
    void argumentsEnvironmentAndDirectory();
    void killedAtTheLimit_data();
    void killedAtTheLimit();
    void eventsProcessedDuringTheWait();
    void cannotStart_data();
    void cannotStart();
    void relativePathFromWorkingDirectory();

private:
    QString script(const QString &name, const QString &body, bool executable = true);
    QTemporaryDir m_dir;
};

QString tst_modSynchronousShell::script(const QString &name, const QString &body, bool executable)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    f.write(body.toUtf8());
    f.close();
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        perms |= QFile::ExeOwner;
    f.setPermissions(perms);
    return path;
}

void tst_modSynchronousShell::init()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(noChildren());
}

void tst_modSynchronousShell::exitCode_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<int>("expected");

    QTest::newRow("0") << "exit 0" << -1 << false << 0;
    QTest::newRow("3") << "exit 3" << -1 << false << 3;
    QTest::newRow("255") << "exit 255" << -1 << false << 255;
    QTest::newRow("hidden changes nothing") << "exit 7" << -1 << true << 7;
    QTest::newRow("ends within the limit") << "exit 9" << 5000 << false << 9;
    QTest::newRow("ends within the first wait at limit 0") << "exit 4" << 0 << false << 4;
    QTest::newRow("runs past several waits") << "sleep 2.2; exit 11" << -1 << false << 11;
    QTest::newRow("ended by a signal") << "kill -TERM $$; sleep 5" << -1 << false << 128 + SIGTERM;
}

void tst_modSynchronousShell::exitCode()
{
    QFETCH(QString, body);
    QFETCH(int, timeout);
    QFETCH(bool, hidden);
    QFETCH(int, expected);

    const QString pidFile = m_dir.filePath(QStringLiteral("pid"));
    const QString prog = script(QStringLiteral("prog.sh"),
                                QStringLiteral("#!/bin/sh\necho $$ > '%1'\n%2\n").arg(pidFile, body));
    QCOMPARE(run(prog, timeout, hidden), expected);

    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t pid = f.readAll().trimmed().toInt();
    QVERIFY(pid > 0);
    QVERIFY(processGone(pid));
    QVERIFY(noChildren());
}

void tst_modSynchronousShell::argumentsEnvironmentAndDirectory()
{
    // The test program itself, run as the child, reports what it was given.
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
    const QStringList lines = QString::fromLocal8Bit(f.readAll()).split(u'\n');
    QCOMPARE(lines.value(0), QStringLiteral("argc=1"));
    QCOMPARE(lines.value(1), QStringLiteral("argv0=0"));
    QCOMPARE(lines.value(2), QStringLiteral("cwd=%1").arg(QDir(workDir).canonicalPath()));
    QCOMPARE(lines.value(3), QStringLiteral("mark=inherited value"));
    QVERIFY(noChildren());
}

void tst_modSynchronousShell::killedAtTheLimit_data()
{
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("waits");

    QTest::newRow("1000") << 1000 << 2;
    QTest::newRow("1001") << 1001 << 3;
    QTest::newRow("2500") << 2500 << 4;
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("-5") << -5 << 1;
}

void tst_modSynchronousShell::killedAtTheLimit()
{
    QFETCH(int, timeout);
    QFETCH(int, waits);

    const QString pidFile = m_dir.filePath(QStringLiteral("pid"));
    const QString prog = script(QStringLiteral("forever.sh"),
                                QStringLiteral("#!/bin/sh\necho $$ > '%1'\nexec sleep 1000\n").arg(pidFile));
    RoundCounter counter;
    counter.start();
    const qint32 code = run(prog, timeout);
    QCOMPARE(code, modSynchronousShell::STILL_ACTIVE);
    // Events are processed between two waits, never after the last one.
    QCOMPARE(counter.rounds, waits - 1);

    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t pid = f.readAll().trimmed().toInt();
    QVERIFY(pid > 0);
    QVERIFY(processGone(pid)); // killed and reaped: not even a zombie
    QVERIFY(noChildren());
}

void tst_modSynchronousShell::eventsProcessedDuringTheWait()
{
    const QString prog = script(QStringLiteral("slow.sh"), QStringLiteral("#!/bin/sh\nsleep 2.5\nexit 5\n"));
    int fired = 0;
    QTimer timer;
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, this, [&] { ++fired; });
    timer.start();
    RoundCounter counter;
    counter.start();

    QCOMPARE(run(prog, -1), 5);
    QVERIFY(fired >= 1);          // the timer ran inside the wait
    QVERIFY(counter.rounds >= 2); // at least two one-second waits passed
    QVERIFY(noChildren());
}

void tst_modSynchronousShell::cannotStart_data()
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

void tst_modSynchronousShell::cannotStart()
{
    QFETCH(QString, name);

    const QString marker = m_dir.filePath(QStringLiteral("started"));
    QFile::remove(marker);
    const QString body = QStringLiteral("#!/bin/sh\ntouch '%1'\nexit 1\n").arg(marker);
    script(QStringLiteral("plain.sh"), body, false);
    script(QStringLiteral("prog.sh"), body);
    script(QStringLiteral("noshebang"), QStringLiteral("touch '%1'\n").arg(marker));
    QDir(m_dir.path()).mkpath(QStringLiteral("adir"));

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const qint32 code = run(name.isEmpty() ? name : QStringLiteral("./") + name, -1);
    const qint32 bare = run(name, -1); // a bare name is not looked up along PATH either
    QDir::setCurrent(before);

    QCOMPARE(code, 0);
    QCOMPARE(bare, 0);
    QVERIFY(!QFile::exists(marker));
    QVERIFY(noChildren());
}

void tst_modSynchronousShell::relativePathFromWorkingDirectory()
{
    script(QStringLiteral("rel.sh"), QStringLiteral("#!/bin/sh\nexit 17\n"));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const qint32 dotted = run(QStringLiteral("./rel.sh"), -1);
    const qint32 bare = run(QStringLiteral("rel.sh"), -1); // resolved in the working directory
    QDir::setCurrent(before);
    QCOMPARE(dotted, 17);
    QCOMPARE(bare, 17);
}

// Run as the child of argumentsEnvironmentAndDirectory: report the arguments, the working
// directory and an inherited variable, then end with a known code.
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
