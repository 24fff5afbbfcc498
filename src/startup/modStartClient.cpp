#include "startup/modStartClient.h"

#include "platform/MsgBox.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <memory>
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

    // Without a session's runtime directory Qt would warn and pick one in /tmp; the
    // temporary directory is shared by all users, so the user's id is part of the name.
    QString dir;
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    return QStringLiteral("%1/%2-%3-%4.lock")
        .arg(dir, QFileInfo(path).completeBaseName())
        .arg(::getuid())
        .arg(QString::fromLatin1(hash));
}

bool AcquireInstanceLock()
{
    if (instanceLock())
        return true;
    auto lock = std::make_unique<QLockFile>(InstanceLockPath(QCoreApplication::applicationFilePath()));
    // Never taken for stale by age: the lock lives as long as its process.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        instanceLock() = std::move(lock);
        return true;
    }
    // Only a lock held by a live process means another instance; a lock that cannot be made
    // at all (no writable directory) must not keep the panel from starting.
    return lock->error() != QLockFile::LockFailedError;
}

} // namespace modStartClient
