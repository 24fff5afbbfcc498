#include "startup/modStartClient.h"

#include "platform/FileWrite.h"
#include "platform/MsgBox.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace modStartClient {

using namespace modGlobClientVar;

namespace {

QString &argumentString()
{
    static QString arguments;
    return arguments;
}

TrayLoader &trayLoader()
{
    static TrayLoader loader;
    return loader;
}

// Held from the first successful test until the program ends.
std::unique_ptr<QLockFile> &instanceLock()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
}

// A directory in which no other account can make a file (so none can take the lock first):
// the session's runtime directory, else one of the user's own below the cache directory.
// Empty when neither can be had.
QString privateDirectory()
{
    const auto isPrivate = [](const QString &dir) {
        struct stat st{};
        return ::stat(QFile::encodeName(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
               && (st.st_mode & 022) == 0;
    };
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivate(runtime))
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return QString();
    const QString own = cache + QStringLiteral("/veskora");
    FileWrite::MakeDirectory(own, 0700);
    return isPrivate(own) ? own : QString();
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace

QString JoinArguments(const QStringList &argv)
{
    return argv.mid(1).join(QLatin1Char(' '));
}

QString ArgumentString()
{
    return argumentString();
}

void SetArgumentString(const QString &arguments)
{
    argumentString() = arguments;
}

void SetTrayLoader(TrayLoader loader)
{
    trayLoader() = std::move(loader);
}

QStringList SplitCommandLine(int maxWords)
{
    return SplitCommandLine(ArgumentString(), maxWords);
}

QStringList SplitCommandLine(const QString &arguments, int maxWords)
{
    QStringList words{QString()};
    int count = 0;
    bool inWord = false;
    for (const QChar c : arguments) {
        if (isSeparator(c)) {
            inWord = false;
            continue;
        }
        if (!inWord) {
            if (count >= maxWords)
                break; // the rest of the line is ignored
            ++count;
            words.append(QString());
            inWord = true;
        }
        words[count].append(c);
    }
    return words;
}

void Main()
{
    if (!AcquireInstanceLock())
        return;

    gCommandArgs = SplitCommandLine();
    const qsizetype words = gCommandArgs.size() - 1;
    if (words == 0)
        StartClient();
    else if (words <= 2)
        ProcessSwitches();
    else
        ShowUsage();
}

void ProcessSwitches()
{
    // The list is read by index each time: a handler may run the event loop meanwhile.
    for (qsizetype i = 1; i < gCommandArgs.size(); ++i) {
        const QString word = gCommandArgs.at(i).toUpper();
        if (word == QLatin1String("/?"))
            ShowUsage();
        else if (word == QLatin1String("/RUN"))
            StartClient();
        else if (word == QLatin1String("/NOTMAX"))
            gNotMaximized = true;
        else
            ShowUsage();
    }
}

QString ProgramName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString UsageText()
{
    const QString name = ProgramName();
    const QStringList lines{
        name,
        QString(),
        QStringLiteral("Syntax:    ") + name + QStringLiteral("  [ /? | /RUN]"),
        QString(),
        QStringLiteral("/?           Show this screen"),
        QStringLiteral("/RUN         Start this Software in Runtimemode"),
    };
    return lines.join(QStringLiteral("\r\n"));
}

void ShowUsage()
{
    MsgBox::Show(nullptr, UsageText(), MsgBox::OkOnly, MsgBox::AppTitle);
}

void StartClient()
{
    InitClientGlobals();
    if (trayLoader())
        trayLoader()();
    else
        frmClientTrayIcon::Load();
}

void InitClientGlobals()
{
    const QString dir = programDirectory();
    gClientCfgFile = dir + QStringLiteral("/Client.cfg");
    gUserCfgFile = dir + QStringLiteral("/User.cfg");
    gStartConnectLifeCnt = 3;
    gStartLifeCnt = 45;
    gSecurityEnabled = true;
    gUserProcessName.clear();
    gTryConnectCount = 0;
    gTryConnectActionCnt = 3;
    gMaxTryConnectActionCnt = 50;
}

QString InstanceLockPath(const QString &programFilePath)
{
    QFileInfo program(programFilePath);
    QString path = program.canonicalFilePath();
    if (path.isEmpty())
        path = program.absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    const QString dir = privateDirectory();
    if (dir.isEmpty())
        return QString();
    return QStringLiteral("%1/%2-%3.lock").arg(dir, QFileInfo(path).completeBaseName(), QString::fromLatin1(hash));
}

bool AcquireInstanceLock()
{
    if (instanceLock())
        return true;
    const QString path = InstanceLockPath(QCoreApplication::applicationFilePath());
    // Without a private directory there is no lock, and that must not keep the panel from
    // starting; nor a lock that cannot be made, only one held by a live process.
    if (path.isEmpty())
        return true;
    auto lock = std::make_unique<QLockFile>(path);
    // Never taken for stale by age: the lock lives as long as its process.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        instanceLock() = std::move(lock);
        return true;
    }
    return lock->error() != QLockFile::LockFailedError;
}

} // namespace modStartClient
