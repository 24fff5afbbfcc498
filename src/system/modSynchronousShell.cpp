#include "system/modSynchronousShell.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace modSynchronousShell {

namespace {

constexpr int kWaitMs = 1000;

// A started child: its pid and, where the kernel offers one, a pidfd to wait on.
struct Child
{
    pid_t pid = -1;
    int pidfd = -1;
    bool reaped = false;
    qint32 exitCode = STILL_ACTIVE;
};

// Exit status as the program's exit code; a program ended by a signal reports 128 + the
// signal number, as the shells do, so it can never be taken for a clean 0 or for 259.
qint32 exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return STILL_ACTIVE;
}

// Reaps the child if it has ended; true when it has.
bool tryReap(Child &child, int flags)
{
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(child.pid, &status, flags);
        if (r == child.pid) {
            child.reaped = true;
            child.exitCode = exitCodeOf(status);
            return true;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) { // not our child any more (someone else reaped it): nothing left to wait for
            child.reaped = true;
            return true;
        }
        return false;
    }
}

qint64 nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// One wait of up to a second for the child to end. True when it has ended (and is reaped).
bool waitOneSecond(Child &child)
{
    const qint64 deadline = nowMs() + kWaitMs;
    if (child.pidfd >= 0) {
        for (;;) {
            const qint64 left = deadline - nowMs();
            pollfd p{child.pidfd, POLLIN, 0};
            const int r = ::poll(&p, 1, int(qMax<qint64>(0, left)));
            if (r > 0)
                return tryReap(child, 0);
            if (r == 0)
                return tryReap(child, WNOHANG);
            if (errno != EINTR)
                break; // fall back to polling below
        }
    }
    // No pidfd: look every 10 ms for the rest of the second.
    for (;;) {
        if (tryReap(child, WNOHANG))
            return true;
        const qint64 left = deadline - nowMs();
        if (left <= 0)
            return false;
        timespec pause{0, long(qMin<qint64>(left, 10)) * 1000000L};
        ::nanosleep(&pause, nullptr);
    }
}

void killAndReap(Child &child)
{
    if (child.reaped)
        return;
    ::kill(child.pid, SIGKILL);
    tryReap(child, 0);
}

// Kills and reaps the child if the wait is left by an exception, so none is left behind.
struct ChildGuard
{
    Child &child;
    ~ChildGuard()
    {
        killAndReap(child);
        if (child.pidfd >= 0)
            ::close(child.pidfd);
    }
};

bool start(const QString &file, Child &child)
{
    const QByteArray path = QFile::encodeName(file);
    if (path.isEmpty())
        return false;

    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0)
        return false;
    // The program starts with no signal blocked and every signal at its default action,
    // whatever this process has set up for itself.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    char arg0[] = "0";
    char *argv[] = {arg0, nullptr};
    pid_t pid = -1;
    // posix_spawn, not posix_spawnp: the file named is run itself, never looked up along PATH.
    // A failed exec is reported here, and the failed child is already reaped.
    const int rc = ::posix_spawn(&pid, path.constData(), nullptr, &attr, argv, environ);
    ::posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return false;

    child.pid = pid;
#ifdef SYS_pidfd_open
    child.pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
#endif
    return true;
}

qint32 WaitForProcess(Child &child, qint32 TimeoutMs)
{
    ChildGuard guard{child};
    const bool limited = TimeoutMs != -1;
    qint32 remaining = TimeoutMs;

    bool ended = waitOneSecond(child);
    while (!ended) {
        if (limited) {
            if (remaining <= 0) {
                // The code read before the kill is the one reported: still active.
                killAndReap(child);
                return STILL_ACTIVE;
            }
            remaining = remaining > INT32_MIN + kWaitMs ? remaining - kWaitMs : INT32_MIN;
        }
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        ended = waitOneSecond(child);
    }
    return child.exitCode;
}

} // namespace

qint32 RunProcessAndWait(const QString &CommandLine, qint32 TimeoutMs)
{
    Child child;
    if (!start(CommandLine, child))
        return 0;
    return WaitForProcess(child, TimeoutMs);
}

} // namespace modSynchronousShell
